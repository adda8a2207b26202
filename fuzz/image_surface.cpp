// surface_from_image over records of any channels, depth, channel order,
// width, height and row stride, whose pixels are null or exactly the bytes the
// record claims (row_stride x height) between two inaccessible pages, 0-3
// bytes before the second. SDL and pygame are not instrumented: the pages
// catch a Surface whose drawing leaves the record's rows.
//
// Input, little-endian, missing bytes 0 (see make_seeds.py): flags, slack
// (0-3), int32 channels, depth, width, height, stride (or delta), order char.
// Flags: 1 channels from a table, 2 depth 8, 4 order 'R', 8 width small,
// 16 height small, 32 stride = row bytes + small delta, 64 draw, 128 null pixels.
#include "embedded_python.h"

#include "module/module.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

PyObject *check_surface;
long surfaces_made, surfaces_drawn;  // printed at exit: a run must reach the drawing

int small(int32_t value, int low, int high) {
    int64_t span = int64_t{high} - low + 1;
    return int(low + (value % span + span) % span);
}

// The layouts a Surface may be made over, whatever SDL decides on the others.
bool showable(const RImage &record) {
    int bytes = record.channels;
    if (record.depth != 8 || (bytes != 1 && bytes != 3 && bytes != 4) || record.width <= 0 ||
        record.height <= 0 || !record.pixels)
        return false;
    if (record.width >= (1 << 30) - 1 || record.height >= (1 << 30) - 1)
        return false;  // SDL 3 would draw nothing into such a Surface
    if (bytes == 4 && (reinterpret_cast<uintptr_t>(record.pixels) % 4 || record.row_stride % 4))
        return false;
    // Every row drawn must lie within INT_MAX bytes of pixels.
    int64_t row_bytes = int64_t{record.width} * bytes;
    return record.row_stride >= row_bytes &&
           int64_t{record.height - 1} * record.row_stride + row_bytes <= INT32_MAX;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    start_embedded_python(true);
    // Masks red first or blue first, as SDL reads them on a little-endian machine.
    check_surface = PyDict_GetItemString(
        run_python(
            "GREY = [(i, i, i) for i in range(256)]\n"
            "def check(s, width, height, pitch, address, bits, red_first, draw):\n"
            "    masks = (0xff, 0xff00, 0xff0000)[::1 if red_first else -1]\n"
            "    masks = masks + (0xff000000 * (bits == 32),) if bits > 8 else (0, 0, 0, 0)\n"
            "    got = s.get_size(), s.get_pitch(), s._pixels_address, s.get_bitsize(), s.get_masks()\n"
            "    assert got == ((width, height), pitch, address, bits, masks), got\n"
            "    assert bits > 8 or [tuple(c)[:3] for c in s.get_palette()] == GREY\n"
            "    if draw:\n"
            "        s.fill((12, 34, 56, 78))\n"
            "        if width and height: s.get_at((width - 1, height - 1))\n"),
        "check");
    std::atexit([] {
        std::fprintf(stderr, "image_surface: %ld surfaces made, %ld drawn\n", surfaces_made,
                     surfaces_drawn);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t in[23] = {};
    std::memcpy(in, data, size < sizeof in ? size : sizeof in);
    int32_t field[5];
    std::memcpy(field, in + 2, sizeof field);
    uint8_t flags = in[0];
    static const int channel_table[] = {1, 3, 4, 0, 2, 5, -1};

    RImage record{};
    record.channels = flags & 1 ? channel_table[small(field[0], 0, 6)] : field[0];
    record.depth = flags & 2 ? 8 : field[1];
    record.channel_order[0] = flags & 4 ? 'R' : char(in[22]);
    record.width = flags & 8 ? small(field[2], -2, 64) : field[2];
    record.height = flags & 16 ? small(field[3], -2, 64) : field[3];
    int64_t stride = field[4];
    if (flags & 32)
        stride = int64_t{record.width} * std::max(record.channels, 1) + small(field[4], -8, 8);
    if (stride < INT32_MIN || stride > INT32_MAX || stride * record.height > (4 << 20))
        return 0;
    record.row_stride = int(stride);

    // An inaccessible page, the claimed bytes and the slack, another such page.
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t used = size_t(std::max(stride * record.height, int64_t{0})) + (in[1] & 3);
    size_t mapped = (used + page - 1) / page * page + 2 * page;
    void *mapping =
        mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    FUZZ_CHECK(mapping != MAP_FAILED);
    char *end = static_cast<char *>(mapping) + mapped - page;
    FUZZ_CHECK(!mprotect(mapping, page, PROT_NONE) && !mprotect(end, page, PROT_NONE));
    record.pixels = flags & 128 ? nullptr : end - used;

    PyObject *surface = surface_from_image(&record);
    FUZZ_CHECK(surface);
    if (surface != Py_None) {
        FUZZ_CHECK(showable(record));
        bool draw = flags & 64;
        surfaces_made++, surfaces_drawn += draw;
        PyObject *result = PyObject_CallFunction(
            check_surface, "Oiiinnii", surface, record.width, record.height, record.row_stride,
            reinterpret_cast<Py_ssize_t>(record.pixels), Py_ssize_t{8} * record.channels,
            record.channel_order[0] == 'R', draw);
        FUZZ_CHECK(result);
        Py_DECREF(result);
    }
    Py_DECREF(surface);  // pygame frees the SDL surface; the pixels stay the record's
    FUZZ_CHECK(!PyErr_Occurred());
    munmap(mapping, mapped);
    return 0;
}
