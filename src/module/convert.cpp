// RImage_asSDLSurface: an RImage record shown as a pygame Surface over the
// record's own pixel memory. Nothing is copied, so the cost of a call does not
// depend on the image size.
#include "module/module.h"
#include "runtime/runtime.h"

#include <array>
#include <climits>
#include <cstdint>

namespace {

// SDL reads a pixel as one native integer, so the mask that selects a given
// byte in memory depends on the machine's byte order. The channel order is
// memory order on every host: "R" means red is a pixel's first byte, and a
// 4-channel pixel's alpha is its last byte.
//
// The mask of byte `position` (0 first in memory) of a `size`-byte pixel.
constexpr uint32_t byte_mask(int position, int size) noexcept {
    return uint32_t{0xff} << (8 * (host_is_big_endian ? size - 1 - position : position));
}

pixel_format red_first_24 = {24, byte_mask(0, 3), byte_mask(1, 3), byte_mask(2, 3), 0, 0};
pixel_format blue_first_24 = {24, byte_mask(2, 3), byte_mask(1, 3), byte_mask(0, 3), 0, 0};
pixel_format red_first_32 = {32, byte_mask(0, 4), byte_mask(1, 4), byte_mask(2, 4), byte_mask(3, 4),
                             0};
pixel_format blue_first_32 = {
    32, byte_mask(2, 4), byte_mask(1, 4), byte_mask(0, 4), byte_mask(3, 4), 0};
// SDL 2 refuses an 8-bit format with colour masks; grey is an indexed
// surface instead, whose palette is set to the grey ramp.
pixel_format grey_8 = {8, 0, 0, 0, 0, 0};

constexpr std::array<SDL_Color, 256> make_grey_ramp() {
    std::array<SDL_Color, 256> ramp{};
    for (int i = 0; i < 256; ++i) {
        auto level = static_cast<uint8_t>(i);
        ramp[i] = SDL_Color{level, level, level, 0xff};
    }
    return ramp;
}

constexpr std::array<SDL_Color, 256> grey_ramp = make_grey_ramp();

// The first width or height that SDL 3's rect arithmetic refuses: 2^30 - 1.
constexpr int SDL_DRAWABLE_SIDE_LIMIT = (1 << 30) - 1;

// The record's format, or null when its depth or channels cannot be shown.
pixel_format *format_of(const RImage *record) {
    if (record->depth != 8)
        return nullptr;
    if (record->channels == 1)
        return &grey_8;
    if (record->channels < 3)
        return nullptr;
    bool red_first = record->channel_order[0] == 'R';
    if (record->channels == 4)
        return red_first ? &red_first_32 : &blue_first_32;
    if (record->channels == 3)
        return red_first ? &red_first_24 : &blue_first_24;
    return nullptr;
}

// Layouts whose drawing would touch memory outside the rows claimed, or that
// SDL 2 or pygame cannot handle. Some of these SDL refuses by itself,
// depending on its version; refusing them here keeps the answer the same
// under every SDL that pygame may ship.
bool layout_is_drawable(const pixel_rows &rows, const pixel_format &format) {
    // Empty rows have nothing to show, and a Surface with no rows over the
    // pixel address still lets a PixelArray write a row there.
    if (rows.width <= 0 || rows.height <= 0)
        return false;
    // SDL 3 refuses every draw into a surface this wide or tall (its guard
    // against rect overflow) while reporting success; SDL 2 would draw.
    // Refused on every SDL, so the answer is the same everywhere.
    if (rows.width >= SDL_DRAWABLE_SIDE_LIMIT || rows.height >= SDL_DRAWABLE_SIDE_LIMIT)
        return false;
    int64_t row_bytes = int64_t{rows.width} * (format.bits_per_pixel / 8);
    if (rows.row_stride < row_bytes)
        return false;  // rows would overlap, or run backwards
    // SDL and pygame find a row at y * pitch in an int: past INT_MAX it wraps
    // to an address before the first pixel.
    if (int64_t{rows.height - 1} * rows.row_stride + row_bytes > INT_MAX)
        return false;
    if (!rows.pixels)
        return false;  // pygame would write through the null address on the first draw
    // SDL's 32-bit fill (SDL 2 and SDL 3 alike) and pygame-ce's blend fills
    // assume 4-byte aligned rows: they crash or write into the row padding.
    if (format.bits_per_pixel == 32 &&
        (reinterpret_cast<uintptr_t>(rows.pixels) % 4 != 0 || rows.row_stride % 4 != 0))
        return false;
    return true;
}

// SDL's code for the format's masks, 0 when it knows none. Both SDL versions
// take the same arguments; one SDL serves the process, so a code found once
// stays right. SDL 2 picks a 24-bit code by the red mask alone, so a code is
// taken only when its own masks are the ones asked for.
uint32_t find_sdl_format(const pixel_format &format) {
    uint32_t code, masks[4] = {0, 0, 0, 0};
    int bits = 0;
    if (sdl_api.masks_to_pixel_format_enum) {
        code = sdl_api.masks_to_pixel_format_enum(format.bits_per_pixel, format.red_mask,
                                                  format.green_mask, format.blue_mask,
                                                  format.alpha_mask);
        if (!code || !sdl_api.pixel_format_enum_to_masks ||
            !sdl_api.pixel_format_enum_to_masks(code, &bits, &masks[0], &masks[1], &masks[2],
                                                &masks[3]))
            return code;
    } else {
        code = sdl3_api.get_pixel_format_for_masks(format.bits_per_pixel, format.red_mask,
                                                   format.green_mask, format.blue_mask,
                                                   format.alpha_mask);
        if (!code || !sdl3_api.get_masks_for_pixel_format ||
            !sdl3_api.get_masks_for_pixel_format(code, &bits, &masks[0], &masks[1], &masks[2],
                                                 &masks[3]))
            return code;
    }
    bool same = masks[0] == format.red_mask && masks[1] == format.green_mask &&
                masks[2] == format.blue_mask && masks[3] == format.alpha_mask;
    return same ? code : 0;
}

// Whether the rows can be shown in `format`, with SDL's code for it (found on
// first use): false when there is no format, the layout is refused or SDL
// knows no code.
inline bool is_drawable(const pixel_rows &rows, pixel_format *format) {
    if (!format || !layout_is_drawable(rows, *format))
        return false;
    if (!format->sdl_format)
        format->sdl_format = find_sdl_format(*format);
    return format->sdl_format != 0;
}

// An SDL 2 surface over drawable rows, or null when SDL fails.
SDL_Surface *rows_to_sdl_surface(const pixel_rows &rows, const pixel_format &format) {
    SDL_Surface *surface = sdl_api.create_rgb_surface_with_format_from(
        rows.pixels, rows.width, rows.height, format.bits_per_pixel, rows.row_stride,
        format.sdl_format);
    if (!surface || format.bits_per_pixel != 8)
        return surface;
    // Each grey surface owns its palette, so a change to one Surface's
    // palette leaves every other alone.
    if (sdl_api.set_palette_colors(surface->format->palette, grey_ramp.data(), 0,
                                   static_cast<int>(grey_ramp.size())) != 0) {
        sdl_api.free_surface(surface);
        return nullptr;
    }
    return surface;
}

// rows_to_sdl_surface when pygame loaded SDL 3: the same layouts and formats.
sdl3::SDL_Surface *rows_to_sdl3_surface(const pixel_rows &rows, const pixel_format &format) {
    sdl3::SDL_Surface *surface = sdl3_api.create_surface_from(
        rows.width, rows.height, format.sdl_format, rows.pixels, rows.row_stride);
    if (!surface || format.bits_per_pixel != 8)
        return surface;
    // SDL 3 gives an indexed surface no palette until asked; the one made here
    // is this surface's own.
    sdl3::SDL_Palette *palette = sdl3_api.create_surface_palette(surface);
    if (!palette || !sdl3_api.set_palette_colors(palette, grey_ramp.data(), 0,
                                                 static_cast<int>(grey_ramp.size()))) {
        sdl3_api.destroy_surface(surface);
        return nullptr;
    }
    return surface;
}

}  // namespace

bool format_for_order(const char *order, Py_ssize_t length, pixel_format *format) {
    if (length == 1 && order[0] == 'L') {
        *format = grey_8;
        format->sdl_format = 0;
        return true;
    }
    if (length != 3 && length != 4)
        return false;
    int size = static_cast<int>(length);
    pixel_format found = {8 * size, 0, 0, 0, 0, 0};
    bool fourth_seen = false;  // A or X, at most one of them
    for (int position = 0; position < size; ++position) {
        uint32_t *mask = nullptr;
        switch (order[position]) {
        case 'R':
            mask = &found.red_mask;
            break;
        case 'G':
            mask = &found.green_mask;
            break;
        case 'B':
            mask = &found.blue_mask;
            break;
        case 'A':
            mask = &found.alpha_mask;
            break;
        case 'X':
            break;
        default:
            return false;
        }
        if (order[position] == 'A' || order[position] == 'X') {
            if (size != 4 || fourth_seen)
                return false;
            fourth_seen = true;
        } else if (*mask) {
            return false;  // a colour named twice
        }
        if (mask)
            *mask = byte_mask(position, size);
    }
    *format = found;
    return true;
}

PyObject *surface_over_rows(const pixel_rows &rows, pixel_format *format) {
    auto construct =
        reinterpret_cast<pygame_surface_new>(pygame_api_slots[PYGAME_SURFACE_NEW_SLOT]);
    if (!construct) {
        PyErr_SetString(PyExc_RuntimeError,
                        "pygame's surface constructor is missing: pygame.surface gave no C API");
        return nullptr;
    }
    // Owner 1: the Surface frees the SDL surface header; the pixels stay the caller's.
    if (sdl_api.create_rgb_surface_with_format_from) {
        SDL_Surface *surface = is_drawable(rows, format) ? rows_to_sdl_surface(rows, *format)
                                                         : nullptr;
        if (!surface)
            Py_RETURN_NONE;
        return construct(surface, 1);
    }
    if (sdl3_api.create_surface_from) {
        sdl3::SDL_Surface *surface = is_drawable(rows, format) ? rows_to_sdl3_surface(rows, *format)
                                                               : nullptr;
        if (!surface)
            Py_RETURN_NONE;
        // pygame-ce built on SDL 3 takes an SDL 3 surface in the same entry.
        return reinterpret_cast<pygame_surface_new_sdl3>(construct)(surface, 1);
    }
    PyErr_SetString(PyExc_RuntimeError,
                    "SDL 2's SDL_CreateRGBSurfaceWithFormatFrom, SDL_MasksToPixelFormatEnum, "
                    "SDL_SetPaletteColors or SDL_FreeSurface is missing from the SDL that "
                    "pygame loaded, and so is SDL 3's SDL_CreateSurfaceFrom, "
                    "SDL_GetPixelFormatForMasks, SDL_CreateSurfacePalette, "
                    "SDL_SetPaletteColors or SDL_DestroySurface");
    return nullptr;
}

PyObject *surface_from_image(const RImage *record) {
    if (!record)
        Py_RETURN_NONE;
    pixel_rows rows = {record->pixels, record->width, record->height, record->row_stride};
    return surface_over_rows(rows, format_of(record));
}

namespace {

// Raises the interpreter's own error for a count other than one: the tuple is
// built only here, so that PyArg_ParseTuple words it on every Python version.
// Gives null.
PyObject *wrong_argument_count(PyObject *const *args, Py_ssize_t count) {
    PyObject *tuple = PyTuple_New(count);
    if (!tuple)
        return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        Py_INCREF(args[i]);
        PyTuple_SetItem(tuple, i, args[i]);  // takes the reference; cannot fail on a new tuple
    }
    PyObject *image;
    PyArg_ParseTuple(tuple, "O:RImage_asSDLSurface", &image);  // fails: not one argument
    Py_DECREF(tuple);
    return nullptr;
}

}  // namespace

PyObject *surface_from_argument(PyObject *, PyObject *const *args, Py_ssize_t count,
                                PyObject *keyword_names) {
    // The text of METH_VARARGS's own refusal: the fast-call one names the module too.
    if (keyword_names && PyTuple_Size(keyword_names) != 0) {
        PyErr_SetString(PyExc_TypeError, "RImage_asSDLSurface() takes no keyword arguments");
        return nullptr;
    }
    if (count != 1)
        return wrong_argument_count(args, count);

    void *record = nullptr;
    if (object_to_pointer(args[0], &record, registered_types[RIMAGE_TYPE], CONVERT_RAISE) < 0)
        return nullptr;
    return surface_from_image(static_cast<const RImage *>(record));
}
