// scene/body.cpp: the level's body list.
#include "scene/body.h"

Body *body_list = nullptr;
