// image_to_sdl_surface over records with arbitrary channels, depth, channel
// order, width, height and row stride. The pixel address is null or points at
// a block exactly as large as the record claims (row_stride x height). SDL is
// the one pygame loaded.
//
// SDL and pygame are not instrumented, so AddressSanitizer sees their reads
// and writes only where they go through the C library. The block therefore
// also ends right at an inaccessible page: a surface whose drawing would
// leave the record's rows faults when pygame fills it, whoever writes.
#include "embedded_python.h"

#include "module/module.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Records claiming more pixel memory than this are skipped.
constexpr int64_t CLAIM_CAP = 4 << 20;

// `size` bytes (plus `slack` before the end) between two inaccessible pages:
// the last byte a record may use is the one before the second page.
struct guarded_block {
    char *mapping = nullptr;
    size_t mapping_size = 0;
    char *pixels = nullptr;

    guarded_block(size_t size, size_t slack) {
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_t data_pages = (size + slack + page - 1) / page;
        mapping_size = (data_pages + 2) * page;
        void *map = mmap(nullptr, mapping_size, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        FUZZ_CHECK(map != MAP_FAILED);
        mapping = static_cast<char *>(map);
        FUZZ_CHECK(mprotect(mapping, page, PROT_NONE) == 0);
        char *guard = mapping + (data_pages + 1) * page;
        FUZZ_CHECK(mprotect(guard, page, PROT_NONE) == 0);
        pixels = guard - slack - size;
    }
    ~guarded_block() { munmap(mapping, mapping_size); }
    guarded_block(const guarded_block &) = delete;
    guarded_block &operator=(const guarded_block &) = delete;
};

// SDL 2's leading fields, as far as this harness reads them (SDL 2's binary
// interface is stable).
struct sdl_palette_view {
    int ncolors;
    SDL_Color *colors;
};
struct sdl_format_view {
    uint32_t format;
    sdl_palette_view *palette;
    uint8_t bits_per_pixel;
    uint8_t bytes_per_pixel;
};
struct sdl_surface_view {
    uint32_t flags;
    sdl_format_view *format;
    int w, h;
    int pitch;
    void *pixels;
};

// The input, read from the front as little-endian fields; missing bytes
// read as 0, so every input is a record. The layout (see make_seeds.py):
//   byte 0    flags: 1 channels from a table, 2 depth 8, 4 order 'R',
//             8 width small, 16 height small, 32 stride = row bytes + delta,
//             64 draw through pygame, 128 null pixels
//   byte 1    bytes left free between the record's last byte and the guard (0-3)
//   then int32 channels, depth, width, height, stride (or delta), and the
//   order character.
struct input_reader {
    const uint8_t *data;
    size_t size;
    size_t position = 0;

    uint8_t byte() { return position < size ? data[position++] : 0; }
    int32_t int32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<uint32_t>(byte()) << (8 * i);
        return static_cast<int32_t>(value);
    }
};

int small(int32_t value, int low, int high) {
    int64_t span = int64_t{high} - low + 1;
    return static_cast<int>(low + ((int64_t{value} % span) + span) % span);
}

// What a surface made over this record must look like, whatever SDL decides
// about layouts this module lets through.
void check_surface(const RImage &record, SDL_Surface *surface) {
    FUZZ_CHECK(record.depth == 8);
    int bytes_per_pixel = record.channels;
    FUZZ_CHECK(bytes_per_pixel == 1 || bytes_per_pixel == 3 || bytes_per_pixel == 4);
    FUZZ_CHECK(record.width > 0 && record.height > 0 && record.pixels);
    int64_t row_bytes = int64_t{record.width} * bytes_per_pixel;
    FUZZ_CHECK(record.row_stride >= row_bytes);
    FUZZ_CHECK(int64_t{record.height - 1} * record.row_stride + row_bytes <= INT32_MAX);
    if (bytes_per_pixel == 4)
        FUZZ_CHECK(reinterpret_cast<uintptr_t>(record.pixels) % 4 == 0 && record.row_stride % 4 == 0);

    auto *view = reinterpret_cast<sdl_surface_view *>(surface);
    FUZZ_CHECK(view->w == record.width && view->h == record.height);
    FUZZ_CHECK(view->pitch == record.row_stride);
    FUZZ_CHECK(view->pixels == record.pixels);
    FUZZ_CHECK(view->format->bits_per_pixel == 8 * bytes_per_pixel);
    if (bytes_per_pixel == 1) {
        sdl_palette_view *palette = view->format->palette;
        FUZZ_CHECK(palette && palette->ncolors == 256);
        for (int i = 0; i < 256; ++i)
            FUZZ_CHECK(palette->colors[i].r == i && palette->colors[i].g == i &&
                       palette->colors[i].b == i);
    }
}

// A pygame Surface over the record, drawn into from corner to corner.
void draw_through_pygame(const RImage &record) {
    PyObject *surface = surface_from_image(&record);
    FUZZ_CHECK(surface);
    if (surface != Py_None) {
        PyObject *result = PyObject_CallMethod(surface, "fill", "((iiii))", 12, 34, 56, 78);
        FUZZ_CHECK(result);
        Py_DECREF(result);
        if (record.width > 0 && record.height > 0) {
            result = PyObject_CallMethod(surface, "get_at", "((ii))", record.width - 1,
                                         record.height - 1);
            FUZZ_CHECK(result);
            Py_DECREF(result);
        }
    }
    Py_DECREF(surface);  // pygame frees the SDL surface; the pixels stay ours
}

// How many records gave a surface, and how many of those pygame drew into:
// printed at exit, so that a run shows it reached the drawing at all.
long surfaces_made = 0;
long surfaces_drawn = 0;

void print_counts() {
    std::fprintf(stderr, "image_surface: %ld surfaces made, %ld drawn through pygame\n",
                 surfaces_made, surfaces_drawn);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    start_embedded_python(true);
    std::atexit(print_counts);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    input_reader input{data, size};
    uint8_t flags = input.byte();
    int slack = input.byte() & 3;
    int32_t channels = input.int32(), depth = input.int32(), width = input.int32(),
            height = input.int32(), stride = input.int32();
    char order = static_cast<char>(input.byte());
    static const int channel_choices[] = {1, 3, 4, 0, 2, 5, -1};

    RImage record{};
    record.channels = flags & 1 ? channel_choices[small(channels, 0, 6)] : channels;
    record.depth = flags & 2 ? 8 : depth;
    record.channel_order[0] = flags & 4 ? 'R' : order;
    record.width = flags & 8 ? small(width, -2, 64) : width;
    record.height = flags & 16 ? small(height, -2, 64) : height;
    if (flags & 32) {
        int64_t row_bytes = int64_t{record.width} * (record.channels > 0 ? record.channels : 1);
        int64_t relative = row_bytes + small(stride, -8, 8);
        if (relative < INT32_MIN || relative > INT32_MAX)
            return 0;
        record.row_stride = static_cast<int>(relative);
    } else {
        record.row_stride = stride;
    }
    bool draw = flags & 64;
    bool null_pixels = flags & 128;

    int64_t claimed = int64_t{record.row_stride} * record.height;
    if (claimed > CLAIM_CAP)
        return 0;
    // A claim of no memory at all still gets a block (of no usable byte).
    size_t block_size = static_cast<size_t>(claimed > 0 ? claimed : 0);
    std::unique_ptr<guarded_block> block;
    if (!null_pixels) {
        block.reset(new guarded_block(block_size, static_cast<size_t>(slack)));
        record.pixels = block->pixels;
    }

    SDL_Surface *surface = image_to_sdl_surface(&record);
    if (surface) {
        ++surfaces_made;
        check_surface(record, surface);
        sdl_api.free_surface(surface);
        if (draw) {
            ++surfaces_drawn;
            draw_through_pygame(record);
        }
    }
    FUZZ_CHECK(!PyErr_Occurred());
    return 0;
}
