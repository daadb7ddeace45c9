// res/res.h: the resource cache: named files from the data folder (lib/
// unless res_set_folder names another) kept in one fixed pool, locked while
// in use, evicted oldest-made-resident first.
//
// Invariants (res_check tests them): the pool is covered exactly once by the
// blocks of the resident resources and the free blocks; names are unique;
// searches run from the head; new resources are appended at the tail and a
// free block split off by eviction is inserted at the head.
//
// Sizes and offsets are bytes. A resource's size is its file's length at
// registration and never changes; its file stays open from registration to
// res_shutdown, which closes it. Ids count up from 0 after each res_init.
//
// Every failure ends the program through fatal_error. A pointer from res_lock
// stays valid only while the resource is resident; callers unlock before the
// frame or the load ends. Resource bytes sit at any byte offset of the pool:
// read multi-byte values through memcpy or byte by byte. The cache does not
// look at the bytes it loads.
#pragma once

#include <cstdint>

using ResourceId = int32_t;   // distinct, never -1, within 0..65535

constexpr int RES_NAME_MAX = 59;       // "lib/" + name + NUL fits in 64 bytes
constexpr int RES_ID_LIMIT = 65536;    // registrations between res_init and res_shutdown
constexpr int RES_FOLDER_MAX = 4095;   // characters of a data folder's path

// The folder resource names are relative to; null restores "lib". Kept across
// res_init and res_shutdown; it applies to the registrations that follow.
// Fatal for a path longer than RES_FOLDER_MAX.
void res_set_folder(const char *folder);

// The folder in force, as res_set_folder left it.
const char *res_folder();
// The size in bytes of the regular file `name` in the folder, -1 when there is
// none (nothing is registered or opened; for checks before a registration).
int64_t res_file_size(const char *name);

// Harmless twice, or without res_init; res_init on a live cache shuts it down first.
void res_init(int32_t pool_size);
void res_shutdown();
// Fatal for a name longer than RES_NAME_MAX, a name with a ".." component,
// a file that cannot be opened or is not a regular file, a file larger than
// the pool, and the registration after RES_ID_LIMIT.
ResourceId res_register(const char *name);
uint8_t *res_lock(ResourceId id);
void res_unlock(ResourceId id);   // never below 0; merges touching free blocks

// The size in bytes and the name of a registered resource; fatal
// "resource %ld is not loaded" for an unknown id.
int32_t res_size(ResourceId id);
const char *res_name(ResourceId id);

// Walks the list and the pool and returns 1 when every invariant holds.
int res_check();

// One node of the list as it stands, for tests and tools: a resource (id >= 0)
// or a free block (id -1). offset is the block's start in the pool, -1 for a
// resource that is not resident.
struct ResBlockInfo {
    ResourceId id;
    int32_t offset;
    int32_t size;
    int32_t resident;
    int32_t lock_count;
    int32_t stamp;
};
// Copies up to max nodes from the head into out; returns the number of nodes.
int res_snapshot(ResBlockInfo *out, int max);
