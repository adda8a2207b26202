// The few SDL 3 types and entry points this module uses, for pygame-ce built
// on SDL 3. Like SDL 2's (sdl.h) they are looked up at run time in the SDL
// that pygame loaded. The names are SDL 3's own, kept apart from SDL 2's in
// namespace sdl3; nothing inside a surface or palette is read.
#ifndef QUORVELC_SDL3_H
#define QUORVELC_SDL3_H

#include <cstdint>

#include "sdl.h"

namespace sdl3 {

struct SDL_Surface;
struct SDL_Palette;
using SDL_Color = ::SDL_Color;  // four bytes r, g, b, a under both versions

// SDL_PixelFormat, an enum in SDL 3, is passed and returned as its 32-bit code.
struct entry_points {
    SDL_Surface *(*create_surface_from)(int width, int height, uint32_t format, void *pixels,
                                        int pitch);
    uint32_t (*get_pixel_format_for_masks)(int bits_per_pixel, uint32_t red_mask,
                                           uint32_t green_mask, uint32_t blue_mask,
                                           uint32_t alpha_mask);
    SDL_Palette *(*create_surface_palette)(SDL_Surface *surface);
    bool (*set_palette_colors)(SDL_Palette *palette, const SDL_Color *colors, int first, int count);
    void (*destroy_surface)(SDL_Surface *surface);
    // Optional, as SDL 2's pixel_format_enum_to_masks.
    bool (*get_masks_for_pixel_format)(uint32_t format, int *bits_per_pixel, uint32_t *red_mask,
                                       uint32_t *green_mask, uint32_t *blue_mask,
                                       uint32_t *alpha_mask);
};

}  // namespace sdl3

// Resolved by find_sdl_entry_points only when SDL 2's entry points are
// absent; members stay null otherwise.
extern sdl3::entry_points sdl3_api;

#endif
