// An application that embeds Python: three rounds of starting the
// interpreter, importing Quorvelc and Quorvel, converting records and
// finalising. The module's objects that belong to an interpreter must be
// made anew in each round; a stale one is a use after free that the
// sanitizer and memcheck runs of this program report. The module, Quorvel
// and pygame come from PYTHONPATH. Exits 0 when every round's results were
// right. With the argument --pygame-alone the rounds use pygame and ctypes,
// what Quorvel stands on, and no module of ours: whether they themselves
// live through finalisation there.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>
#include <cstring>

namespace {

// One round's work; an exception fails the round, with its traceback printed.
const char round_code[] = R"PY(
import pygame
import Quorvelc
import Quorvel

convert = Quorvelc.RImage_asSDLSurface
grey_pixels = bytearray(range(12))
rgb_pixels = bytearray(range(36))
grey = Quorvel.record_for(grey_pixels, (4, 3), "L")
rgb = Quorvel.record_for(rgb_pixels, (4, 3), "RGB")


class Wrapper:
    def __init__(self, record):
        self.text = Quorvel.pointer_text(record)

    @property
    def this(self):
        return self.text


for name, argument in [("text", Quorvel.pointer_text(grey)), ("wrapper", Wrapper(grey))]:
    surface = convert(argument)
    assert surface.get_size() == (4, 3) and surface.get_at((1, 2)) == (9, 9, 9, 255), (name, surface)
for name, argument in [("text", Quorvel.pointer_text(rgb)), ("wrapper", Wrapper(rgb))]:
    surface = convert(argument)
    assert surface.get_at((1, 2)) == (27, 28, 29, 255), (name, surface.get_at((1, 2)))
surface.fill((1, 2, 3))
assert rgb_pixels == b"\x01\x02\x03" * 12, rgb_pixels
assert convert(None) is None and convert("NULL") is None
for refused in [Quorvel.pointer_text(rgb)[:-1] + "x", object(), Wrapper(grey).text[:9]]:
    try:
        convert(refused)
    except TypeError as error:
        assert str(error) == "Type error. Expected _p_RImage", error
    else:
        raise AssertionError(f"{refused!r} was accepted")
kept = Quorvel.frombuffer(bytearray(b"\x05\x06\x07" * 4), (2, 2), "RGB")
assert kept.get_at((1, 1)) == (5, 6, 7, 255)
)PY";

// pygame's own Surfaces, and ctypes types as Quorvel makes them, among
// enough other objects that memory an earlier life left behind gets reused.
const char pygame_round_code[] = R"PY(
import ctypes
import pygame

class Record(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("pixels", ctypes.c_void_p)]

assert ctypes.sizeof(Record) >= 12 and ctypes.c_char.from_buffer(bytearray(1)).value == b"\0"
churn = [str(n) * 3 for n in range(200000)]
for depth in (8, 24, 32):
    surface = pygame.Surface((4, 3), 0, depth)
    surface.fill((1, 2, 3))
    assert surface.get_size() == (4, 3) and len(surface.get_at((1, 2))) == 4
)PY";

}  // namespace

int main(int argc, char **argv) {
    const char *code =
        argc > 1 && std::strcmp(argv[1], "--pygame-alone") == 0 ? pygame_round_code : round_code;
    const int rounds = 3;
    for (int round = 1; round <= rounds; ++round) {
        Py_InitializeEx(0);  // the host keeps its own signal handlers
        bool worked = PyRun_SimpleString(code) == 0;
        if (Py_FinalizeEx() < 0)
            worked = false;
        std::printf("round %d of %d: %s\n", round, rounds, worked ? "right" : "FAILED");
        std::fflush(stdout);  // what a crash in the next round would lose
        if (!worked)
            return 1;
    }
    return 0;
}
