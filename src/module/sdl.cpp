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

// Gives true when `library` holds a complete set of entry points and keeps it.
using take_entry_points = bool (*)(void *library);

#ifdef _WIN32
// The DLL that holds the pygame function (pygame's surface module), without
// taking a reference: it stays loaded by the interpreter.
HMODULE open_sdl_of(void *pygame_function) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(pygame_function), &module))
        return nullptr;
    return module;
}
void *find_symbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
// Each DLL that pygame's module imports (its PE import directory), as loaded
// already: no DLL is loaded, none is picked by name alone. Symbol lookup on a
// DLL does not search its dependencies, as dlsym does, so the SDL pygame was
// linked with is found among the module's own imports.
bool take_from_sdl_of(void *pygame_function, take_entry_points take) {
    const auto *base = reinterpret_cast<const unsigned char *>(open_sdl_of(pygame_function));
    if (!base)
        return false;
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const auto *headers = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    if (headers->Signature != IMAGE_NT_SIGNATURE ||
        headers->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
        return false;
    const IMAGE_DATA_DIRECTORY &imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return false;
    for (const auto *entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         entry->Name; ++entry) {
        HMODULE dll = GetModuleHandleA(reinterpret_cast<const char *>(base + entry->Name));
        if (dll && take(dll))
            return true;
    }
    return false;
}
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
bool take_from_sdl_of(void *pygame_function, take_entry_points take) {
    void *library = open_sdl_of(pygame_function);
    if (!library)
        return false;
    bool taken = take(library);
    close_library(library);
    return taken;
}
#endif

template <typename Function>
void find_entry(void *library, Function &function, const char *name) {
    function = reinterpret_cast<Function>(find_symbol(library, name));
}

bool take_sdl2_entry_points(void *library) {
    sdl_entry_points found;
    find_entry(library, found.create_rgb_surface_with_format_from,
               "SDL_CreateRGBSurfaceWithFormatFrom");
    find_entry(library, found.masks_to_pixel_format_enum, "SDL_MasksToPixelFormatEnum");
    find_entry(library, found.set_palette_colors, "SDL_SetPaletteColors");
    find_entry(library, found.free_surface, "SDL_FreeSurface");
    find_entry(library, found.pixel_format_enum_to_masks, "SDL_PixelFormatEnumToMasks");
    if (!found.create_rgb_surface_with_format_from || !found.masks_to_pixel_format_enum ||
        !found.set_palette_colors || !found.free_surface)
        return false;
    sdl_api = found;
    return true;
}

// SDL 3's entry points, looked up where SDL 2's were not found.
bool take_sdl3_entry_points(void *library) {
    sdl3::entry_points found;
    find_entry(library, found.create_surface_from, "SDL_CreateSurfaceFrom");
    find_entry(library, found.get_pixel_format_for_masks, "SDL_GetPixelFormatForMasks");
    find_entry(library, found.create_surface_palette, "SDL_CreateSurfacePalette");
    find_entry(library, found.set_palette_colors, "SDL_SetPaletteColors");
    find_entry(library, found.destroy_surface, "SDL_DestroySurface");
    find_entry(library, found.get_masks_for_pixel_format, "SDL_GetMasksForPixelFormat");
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
    return take_from_sdl_of(pygame_function, take_sdl2_entry_points) ||
           take_from_sdl_of(pygame_function, take_sdl3_entry_points);
}
