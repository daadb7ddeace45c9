// scene/world.cpp: world and model loaders (stub until the real loaders land).
#include "scene/world.h"

int32_t stream_read_int(ByteCursor *) { return 0; }
const char *stream_read_string(ByteCursor *) { return ""; }
void world_load(ResourceId) {}
Body *world_read_object(int32_t, ByteCursor *) { return nullptr; }
void world_read_start(ByteCursor *) {}
Body *model_load(const char *, uint32_t) { return nullptr; }
