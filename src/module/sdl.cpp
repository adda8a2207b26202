// Run-time lookup of SDL's entry points in the SDL that pygame loaded.
#include "module/sdl.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

sdl_entry_points sdl_api;

namespace {

#ifdef _WIN32
// pygame's wheels load SDL2.dll beside their modules; it is found by name.
void *open_sdl_of(void *) {
    return GetModuleHandleA("SDL2.dll");
}
void *find_symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void close_library(void *) {}
#else
// The library that holds the pygame function, opened again without loading
// anything new; symbol lookup on its handle also searches its dependencies,
// among them the SDL it was linked with.
void *open_sdl_of(void *pygame_function) {
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

}  // namespace

bool find_sdl_entry_points(void *pygame_function) {
    sdl_api = sdl_entry_points{};
    if (!pygame_function)
        return false;
    void *library = open_sdl_of(pygame_function);
    if (!library)
        return false;
    sdl_entry_points found;
    found.create_rgb_surface_with_format_from =
        reinterpret_cast<decltype(found.create_rgb_surface_with_format_from)>(
            find_symbol(library, "SDL_CreateRGBSurfaceWithFormatFrom"));
    found.masks_to_pixel_format_enum = reinterpret_cast<decltype(found.masks_to_pixel_format_enum)>(
        find_symbol(library, "SDL_MasksToPixelFormatEnum"));
    found.set_palette_colors = reinterpret_cast<decltype(found.set_palette_colors)>(
        find_symbol(library, "SDL_SetPaletteColors"));
    found.free_surface = reinterpret_cast<decltype(found.free_surface)>(
        find_symbol(library, "SDL_FreeSurface"));
    close_library(library);
    if (!found.create_rgb_surface_with_format_from || !found.masks_to_pixel_format_enum ||
        !found.set_palette_colors || !found.free_surface)
        return false;
    sdl_api = found;
    return true;
}
