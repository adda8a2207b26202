// The few SDL 2 types and entry points this module uses. They are looked up
// at run time in the SDL that pygame itself loaded: a second SDL in the
// process would free surfaces it did not make. SDL 2's binary interface is
// stable, so only the leading fields that are read are declared.
#ifndef QUORVELC_SDL_H
#define QUORVELC_SDL_H

#include <cstdint>

struct SDL_Color {
    uint8_t r, g, b, a;
};

struct SDL_Palette;

// Leading fields of SDL 2's SDL_PixelFormat.
struct SDL_PixelFormat {
    uint32_t format;
    SDL_Palette *palette;
};

// Leading fields of SDL 2's SDL_Surface.
struct SDL_Surface {
    uint32_t flags;
    SDL_PixelFormat *format;
};

struct sdl_entry_points {
    SDL_Surface *(*create_rgb_surface_with_format_from)(void *pixels, int width, int height,
                                                        int depth, int pitch, uint32_t format);
    uint32_t (*masks_to_pixel_format_enum)(int bits_per_pixel, uint32_t red_mask,
                                           uint32_t green_mask, uint32_t blue_mask,
                                           uint32_t alpha_mask);
    int (*set_palette_colors)(SDL_Palette *palette, const SDL_Color *colors, int first, int count);
    void (*free_surface)(SDL_Surface *surface);
    // Optional: the masks of a format code, to tell a code that SDL 2 matched
    // by its red mask alone (24 bits) from one whose masks are those asked for.
    int (*pixel_format_enum_to_masks)(uint32_t format, int *bits_per_pixel, uint32_t *red_mask,
                                      uint32_t *green_mask, uint32_t *blue_mask,
                                      uint32_t *alpha_mask);
};

// Resolved by import_pygame_and_sdl; members stay null while SDL is not found.
extern sdl_entry_points sdl_api;

// Looks the entry points up in the SDL used by the library that holds
// `pygame_function` (an address inside pygame's surface module): SDL 2's into
// `sdl_api`, or, when any of those is missing, SDL 3's into `sdl3_api`
// (sdl3.h). Gives false and leaves both cleared when neither set is complete.
bool find_sdl_entry_points(void *pygame_function);

#endif
