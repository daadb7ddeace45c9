// res/res.cpp: the resource cache.
#include "res/res.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/fatal.h"
#include "base/fileio.h"
#include "base/fixed.h"

namespace {

// A node of the list: a resource (id >= 0, a name, an open file) or a free
// block of the pool (id -1, no name, never resident, never locked).
struct CacheEntry {
    ResourceId id;
    int32_t size;   // file length at registration, or the block's length
    int32_t resident;
    int32_t lock_count;
    int32_t stamp;   // use_clock when last made resident
    uint8_t *data;   // start of its bytes while resident / of the block
    FILE *file;      // resources only
    char name[RES_NAME_MAX + 1];
    CacheEntry *next;
};

struct ResourceCache {
    CacheEntry *entries;
    uint8_t *pool;
    int32_t pool_size;
    int32_t use_clock;
    int32_t next_id;
};
ResourceCache cache;

// Not part of the cache: the program sets it once, before res_init.
struct ResFolder {
    char path[RES_FOLDER_MAX + 1] = "lib";
};
ResFolder folder;

constexpr ResourceId FREE_BLOCK = -1;

CacheEntry *new_entry() {
    auto *e = static_cast<CacheEntry *>(safe_alloc(sizeof(CacheEntry)));
    std::memset(e, 0, sizeof *e);
    return e;
}

CacheEntry *find(ResourceId id) {
    for (CacheEntry *e = cache.entries; e != nullptr; e = e->next)
        if (e->id == id) return e;
    return nullptr;
}

CacheEntry *find_or_die(ResourceId id) {
    // The free-block marker is not a resource, whatever the list holds.
    CacheEntry *e = id == FREE_BLOCK ? nullptr : find(id);
    if (e == nullptr) fatal_error("resource %ld is not loaded", static_cast<long>(id));
    return e;
}

// A ".." component would reach outside the data folder.
bool climbs_out(const char *name) {
    for (const char *p = name; *p != '\0';) {
        const char *end = std::strchr(p, '/');
        const size_t len = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
        if (len == 2 && p[0] == '.' && p[1] == '.') return true;
        p += len;
        if (*p == '/') ++p;
    }
    return false;
}

// The cache's only access to the file system:
//   1 opens "<folder>/<name>" (name_or_buffer is the name) and returns the FILE*;
//   2 returns the open file's size;
//   3 reads up to `length` bytes from the start of the file into
//     name_or_buffer and returns the number read;
//   anything else does nothing and returns 0.
intptr_t res_file_op(int op, FILE *file, void *name_or_buffer, long length = 0) {
    switch (op) {
        case 1: {
            const char *name = static_cast<const char *>(name_or_buffer);
            char path[RES_FOLDER_MAX + 1 + RES_NAME_MAX + 1];
            std::snprintf(path, sizeof path, "%s/%s", folder.path, name);
            // Opened without blocking, so a FIFO or a device never holds the game
            // up; only a regular file has a size that means something (a folder,
            // a pipe or a device would fail or block later, or never end).
            const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            struct stat st;
            if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
                close(fd);
                fatal_error("cannot load resource `%s'", name);
            }
            // An input of the run: no output may be written over it.
            if (fd >= 0) fileio_add_input_id(st.st_dev, st.st_ino);
            FILE *f = fd >= 0 ? fdopen(fd, "rb") : nullptr;
            if (f == nullptr && fd >= 0) close(fd);
            if (f == nullptr) fatal_error("cannot load resource `%s'", name);
            // Unbuffered: each load is one whole read, and a seek back to the
            // start must reach the file, not bytes buffered by an earlier load.
            std::setvbuf(f, nullptr, _IONBF, 0);
            return reinterpret_cast<intptr_t>(f);
        }
        case 2: {
            struct stat st;
            if (fstat(fileno(file), &st) != 0) return 0;
            return static_cast<intptr_t>(st.st_size);
        }
        case 3: {
            if (std::fseek(file, 0, SEEK_SET) != 0 || length <= 0) return 0;
            return static_cast<intptr_t>(
                std::fread(name_or_buffer, 1, static_cast<size_t>(length), file));
        }
        default: return 0;
    }
}

// Reads the whole resource into dest; a short read would leave stale pool
// bytes behind the ones read, so it ends the program instead.
void load_into(CacheEntry *e, uint8_t *dest) {
    const intptr_t got = res_file_op(3, e->file, dest, e->size);
    if (got != e->size) fatal_error("cannot read resource `%s'", e->name);
}

void make_resident(CacheEntry *e, uint8_t *data) {
    e->resident = 1;
    e->lock_count += 1;
    e->stamp = cache.use_clock;
    e->data = data;
}

void remove_after(CacheEntry *prev, CacheEntry *node) {
    if (prev == nullptr)
        cache.entries = node->next;
    else
        prev->next = node->next;
    std::free(node);
}

// One sweep: each free block absorbs every later free block that touches its
// current extent; the block nearer the head survives.
void merge_free_blocks() {
    for (CacheEntry *a = cache.entries; a != nullptr; a = a->next) {
        if (a->id != FREE_BLOCK) continue;
        CacheEntry *prev = a;
        CacheEntry *b = a->next;
        while (b != nullptr) {
            bool merged = false;
            if (b->id == FREE_BLOCK) {
                if (a->data + a->size == b->data) {
                    merged = true;
                } else if (b->data + b->size == a->data) {
                    a->data = b->data;
                    merged = true;
                }
            }
            if (merged) {
                a->size += b->size;
                remove_after(prev, b);
                b = prev->next;
            } else {
                prev = b;
                b = b->next;
            }
        }
    }
}

}   // namespace

void res_set_folder(const char *path) {
    if (path == nullptr) path = "lib";
    if (std::strlen(path) > static_cast<size_t>(RES_FOLDER_MAX))
        fatal_error("data folder name too long");
    std::strcpy(folder.path, path);
}

void res_init(int32_t pool_size) {
    res_shutdown();
    cache.pool = static_cast<uint8_t *>(safe_alloc(pool_size));
    cache.pool_size = pool_size;
    cache.use_clock = 0;
    cache.next_id = 0;
    CacheEntry *block = new_entry();
    block->id = FREE_BLOCK;
    block->size = pool_size;
    block->data = cache.pool;
    cache.entries = block;
}

void res_shutdown() {
    while (cache.entries != nullptr) {
        CacheEntry *next = cache.entries->next;
        if (cache.entries->file != nullptr) std::fclose(cache.entries->file);
        std::free(cache.entries);
        cache.entries = next;
    }
    std::free(cache.pool);
    cache = ResourceCache{};
}

ResourceId res_register(const char *name) {
    if (std::strlen(name) > static_cast<size_t>(RES_NAME_MAX))
        fatal_error("resource name `%s' too long", name);
    for (CacheEntry *e = cache.entries; e != nullptr; e = e->next)
        if (e->id != FREE_BLOCK && std::strcmp(e->name, name) == 0) return e->id;

    if (climbs_out(name)) fatal_error("bad resource name `%s'", name);
    if (cache.next_id >= RES_ID_LIMIT) fatal_error("too many resources");
    auto *file = reinterpret_cast<FILE *>(res_file_op(1, nullptr, const_cast<char *>(name)));
    const intptr_t size = res_file_op(2, file, nullptr);
    if (size > cache.pool_size) {
        std::fclose(file);
        fatal_error("resource `%s' too big", name);
    }

    CacheEntry *e = new_entry();
    e->id = cache.next_id++;
    e->size = static_cast<int32_t>(size);
    e->file = file;
    std::strcpy(e->name, name);
    CacheEntry **tail = &cache.entries;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = e;
    return e->id;
}

uint8_t *res_lock(ResourceId id) {
    if (cache.entries == nullptr) fatal_error("no loaded resources");
    cache.use_clock = wrap_add(cache.use_clock, 1);
    CacheEntry *e = find_or_die(id);
    if (e->resident) {
        // Not a use: the stamp keeps the time it was made resident.
        e->lock_count += 1;
        return e->data;
    }

    // First fit.
    CacheEntry *prev = nullptr;
    for (CacheEntry *b = cache.entries; b != nullptr; prev = b, b = b->next) {
        if (b->id != FREE_BLOCK || b->size < e->size) continue;
        uint8_t *data = b->data;
        load_into(e, data);
        make_resident(e, data);
        b->data += e->size;
        b->size -= e->size;
        if (b->size == 0) remove_after(prev, b);
        return data;
    }

    // Eviction of exactly one unlocked resident whose own block holds the
    // request: the one made resident longest ago, the nearer the head on a tie.
    bool any_large = false;
    CacheEntry *victim = nullptr;
    for (CacheEntry *c = cache.entries; c != nullptr; c = c->next) {
        if (c->id == FREE_BLOCK || !c->resident || c->size < e->size) continue;
        any_large = true;
        if (c->lock_count != 0) continue;
        if (victim == nullptr || c->stamp < victim->stamp) victim = c;
    }
    if (!any_large) fatal_error("no block large enough");
    if (victim == nullptr) fatal_error("all blocks are locked");

    victim->resident = 0;
    uint8_t *data = victim->data;
    load_into(e, data);
    if (victim->size > e->size) {
        CacheEntry *rest = new_entry();
        rest->id = FREE_BLOCK;
        rest->data = data + e->size;
        rest->size = victim->size - e->size;
        rest->next = cache.entries;
        cache.entries = rest;
    }
    make_resident(e, data);
    return data;
}

void res_unlock(ResourceId id) {
    CacheEntry *e = find_or_die(id);
    if (e->lock_count > 0) e->lock_count -= 1;
    merge_free_blocks();
}

int32_t res_size(ResourceId id) { return find_or_die(id)->size; }

const char *res_name(ResourceId id) { return find_or_die(id)->name; }

int res_check() {
    if (cache.entries == nullptr) return cache.pool == nullptr ? 1 : 0;
    struct Span {
        int64_t start, length;
    };
    std::vector<Span> spans;
    std::vector<const CacheEntry *> named;
    for (const CacheEntry *e = cache.entries; e != nullptr; e = e->next) {
        if (e->size < 0 || e->lock_count < 0) return 0;
        if (e->id == FREE_BLOCK) {
            if (e->resident || e->lock_count != 0 || e->file != nullptr) return 0;
        } else {
            if (e->id < 0 || e->id >= RES_ID_LIMIT || e->file == nullptr) return 0;
            if (!e->resident && e->lock_count != 0) return 0;
            for (const CacheEntry *o : named)
                if (o->id == e->id || std::strcmp(o->name, e->name) == 0) return 0;
            named.push_back(e);
        }
        if (e->id == FREE_BLOCK || e->resident) {
            const int64_t start = e->data - cache.pool;
            if (start < 0 || start + e->size > cache.pool_size) return 0;
            if (e->size > 0) spans.push_back({start, e->size});
        }
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span &a, const Span &b) { return a.start < b.start; });
    int64_t covered = 0;
    for (const Span &s : spans) {
        if (s.start != covered) return 0;   // a gap or an overlap
        covered += s.length;
    }
    return covered == cache.pool_size ? 1 : 0;
}

int res_snapshot(ResBlockInfo *out, int max) {
    int n = 0;
    for (const CacheEntry *e = cache.entries; e != nullptr; e = e->next, ++n) {
        if (n >= max) continue;
        const bool placed = e->id == FREE_BLOCK || e->resident;
        out[n] = {e->id,         placed ? static_cast<int32_t>(e->data - cache.pool) : -1,
                  e->size,       e->resident,
                  e->lock_count, e->stamp};
    }
    return n;
}
