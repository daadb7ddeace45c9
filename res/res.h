// res/res.h: the resource cache: named files from lib/ kept in one fixed
// pool, locked while in use, evicted oldest-made-resident first.
//
// Invariants (res_check tests them): the pool is covered exactly once by the
// blocks of the resident resources and the free blocks; names are unique;
// searches run from the head; new resources are appended at the tail and a
// free block split off by eviction is inserted at the head.
//
// Every failure ends the program through fatal_error. A pointer from res_lock
// stays valid only while the resource is resident; callers unlock before the
// frame or the load ends. Resource bytes sit at any byte offset of the pool:
// read multi-byte values through memcpy or byte by byte.
#pragma once

#include <cstdint>
#include <cstdio>

using ResourceId = int32_t;   // distinct, never -1, within 0..65535

constexpr int RES_NAME_MAX = 59;   // "lib/" + name + NUL fits in 64 bytes

void res_init(int32_t pool_size);
void res_shutdown();
ResourceId res_register(const char *name);
uint8_t *res_lock(ResourceId id);
void res_unlock(ResourceId id);

// The cache's only access to the file system: 1 opens "lib/<name>" (returns
// the FILE*), 2 returns the open file's size, 3 reads the whole file into
// buffer, anything else does nothing.
long res_file_op(int op, FILE *file, void *name_or_buffer);

// The size in bytes of a registered resource (its file's size at
// registration); fatal "resource %ld is not loaded" for an unknown id.
int32_t res_size(ResourceId id);

// Walks the list and the pool and returns 1 when every invariant holds.
int res_check();
