// Run-time lookup of SDL's entry points in the SDL that pygame loaded.
#include "module/sdl.h"
#include "module/sdl3.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

sdl_entry_points sdl_api;
sdl3::entry_points sdl3_api;

namespace {

#ifdef _WIN32
// pygame's wheels load SDL2.dll beside their modules (SDL3.dll when built on
// SDL 3); it is found by name.
void *open_sdl_of(void *, const char *dll_name) {
    return GetModuleHandleA(dll_name);
}
void *find_symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void close_library(void *) {}
#else
// The library that holds the pygame function, opened again without loading
// anything new; symbol lookup on its handle also searches its dependencies,
// among them the SDL it was linked with.
void *open_sdl_of(void *pygame_function, const char *) {
    Dl_info info;
    if (!dladdr(pygame_function, &info) || !info.dli_fname)
        return nullptr;
    return dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
}
void *find_symbol(void *library, const char *name) {
    return dlsym(library, name);
}
void close_library(void *library) {
    // The library stays loaded by the interpreter; this only drops our count.
    dlclose(library);
}
#endif

template <typename Function>
void find_entry(void *library, Function &function, const char *name) {
    function = reinterpret_cast<Function>(find_symbol(library, name));
}

// SDL 3's entry points, looked up where SDL 2's were not found.
bool find_sdl3_entry_points(void *pygame_function) {
    void *library = open_sdl_of(pygame_function, "SDL3.dll");
    if (!library)
        return false;
    sdl3::entry_points found;
    find_entry(library, found.create_surface_from, "SDL_CreateSurfaceFrom");
    find_entry(library, found.get_pixel_format_for_masks, "SDL_GetPixelFormatForMasks");
    find_entry(library, found.create_surface_palette, "SDL_CreateSurfacePalette");
    find_entry(library, found.set_palette_colors, "SDL_SetPaletteColors");
    find_entry(library, found.destroy_surface, "SDL_DestroySurface");
    close_library(library);
    if (!found.create_surface_from || !found.get_pixel_format_for_masks ||
        !found.create_surface_palette || !found.set_palette_colors || !found.destroy_surface)
        return false;
    sdl3_api = found;
    return true;
}

}  // namespace

bool find_sdl_entry_points(void *pygame_function) {
    sdl_api = sdl_entry_points{};
    sdl3_api = sdl3::entry_points{};
    if (!pygame_function)
        return false;
    void *library = open_sdl_of(pygame_function, "SDL2.dll");
    if (!library)
        return find_sdl3_entry_points(pygame_function);
    sdl_entry_points found;
    find_entry(library, found.create_rgb_surface_with_format_from,
               "SDL_CreateRGBSurfaceWithFormatFrom");
    find_entry(library, found.masks_to_pixel_format_enum, "SDL_MasksToPixelFormatEnum");
    find_entry(library, found.set_palette_colors, "SDL_SetPaletteColors");
    find_entry(library, found.free_surface, "SDL_FreeSurface");
    close_library(library);
    if (!found.create_rgb_surface_with_format_from || !found.masks_to_pixel_format_enum ||
        !found.set_palette_colors || !found.free_surface)
        return find_sdl3_entry_points(pygame_function);
    sdl_api = found;
    return true;
}
