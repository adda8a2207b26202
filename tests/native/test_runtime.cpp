// The typed-pointer runtime, driven directly: registry links, tag lookup,
// hex coding and the conversion of Python objects into addresses.
#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct decref {
    void operator()(PyObject *object) const { Py_DECREF(object); }
};
using owned = std::unique_ptr<PyObject, decref>;

// The registry keeps what it is given for the life of the process, so these
// are never freed. Type names in the type list are process-wide: every test
// uses names of its own.
const char *keep(const std::string &text) { return (new std::string(text))->c_str(); }

type_descriptor *make_array(std::initializer_list<const char *> names) {
    type_descriptor *array = new type_descriptor[names.size() + 1]();
    size_t i = 0;
    for (const char *name : names)
        array[i++].name = name;
    return array;
}

type_descriptor *check(const std::string &tag, type_descriptor *descriptor) {
    return check_type(tag.data(), static_cast<Py_ssize_t>(tag.size()), descriptor);
}

std::string names_of(const std::vector<type_descriptor *> &entries) {
    std::string text;
    for (type_descriptor *entry : entries)
        text += std::string(entry->name) + " ";
    return text;
}

// Walks the equivalence list of `head` forwards to its end and back through
// `prev` to the head; both walks must give `expected`. Bounded, so a cycle fails.
void expect_list(type_descriptor *head, const std::vector<type_descriptor *> &expected) {
    std::vector<type_descriptor *> forwards;
    for (type_descriptor *entry = head->next; entry && forwards.size() < 64; entry = entry->next)
        forwards.push_back(entry);
    EXPECT_EQ(forwards, expected) << "forwards: " << names_of(forwards)
                                  << "expected: " << names_of(expected);
    if (forwards.empty())
        return;
    std::vector<type_descriptor *> backwards;
    type_descriptor *entry = forwards.back();
    for (; entry && entry != head && backwards.size() < 64; entry = entry->prev)
        backwards.insert(backwards.begin(), entry);
    EXPECT_EQ(entry, head) << "the backward walk did not end at the head";
    EXPECT_EQ(backwards, forwards) << "backwards: " << names_of(backwards);
}

// Heads named `name` in the type list, newest first.
std::vector<type_descriptor *> heads_named(const char *name) {
    std::vector<type_descriptor *> found;
    size_t steps = 0;
    type_descriptor *head = type_list;
    for (; head && steps < 100000; head = head->prev, ++steps)
        if (std::strcmp(head->name, name) == 0)
            found.push_back(head);
    EXPECT_EQ(head, nullptr) << "the type list does not end";
    return found;
}

TEST(RegisterType, NewNamesChainOntoTheTypeList) {
    type_descriptor *before = type_list;
    type_descriptor *a = make_array({"_p_TestNewA", "_p_TestNewA", "_p_TestNewA_alias"});
    type_descriptor *b = make_array({"_p_TestNewB"});
    type_descriptor *lower = make_array({"_p_testnewa", "_p_testnewa"});

    EXPECT_EQ(register_type(a), a);
    EXPECT_EQ(type_list, a);
    EXPECT_EQ(a->prev, before);
    expect_list(a, {&a[1], &a[2]});

    EXPECT_EQ(register_type(b), b);
    EXPECT_EQ(type_list, b);
    EXPECT_EQ(b->prev, a);
    EXPECT_EQ(b->next, nullptr);
    // Without equivalents no tag is accepted, not even the type's own name;
    // without a descriptor there is nothing to accept a tag.
    EXPECT_EQ(check("_p_TestNewB", b), nullptr);
    EXPECT_EQ(check("", b), nullptr);
    EXPECT_EQ(check("_p_TestNewA", nullptr), nullptr);

    // Names compare case-sensitively: this is a type of its own.
    EXPECT_EQ(register_type(lower), lower);
    EXPECT_EQ(lower->prev, b);
    EXPECT_EQ(heads_named("_p_TestNewA"), std::vector<type_descriptor *>{a});
}

TEST(RegisterType, ReRegistrationJoinsTheExistingHead) {
    type_descriptor *old = make_array({"_p_TestAgain", "_p_TestAgain", "_p_TestAgain_old"});
    type_descriptor *again = make_array({"_p_TestAgain", "_p_TestAgain_new1", "_p_TestAgain_new2"});
    type_descriptor *bare = make_array({"_p_TestAgain"});
    old->client_data = PyExc_ValueError;  // any class: the registry only copies the reference

    ASSERT_EQ(register_type(old), old);
    type_descriptor *list_before = type_list;
    EXPECT_EQ(register_type(again), old);
    EXPECT_EQ(type_list, list_before);
    EXPECT_EQ(again->client_data, PyExc_ValueError);
    EXPECT_EQ(again->prev, nullptr);  // the new head itself is not linked in
    EXPECT_EQ(again->next, nullptr);
    expect_list(old, {&again[1], &again[2], &old[1], &old[2]});

    // Moving an old equivalent to the front keeps every other entry reachable;
    // a second lookup finds it first and leaves the list alone.
    for (int lookup = 1; lookup <= 2; ++lookup) {
        SCOPED_TRACE("lookup " + std::to_string(lookup));
        EXPECT_EQ(check("_p_TestAgain_old", old), &old[2]);
        expect_list(old, {&old[2], &again[1], &again[2], &old[1]});
    }

    // No equivalents to add: the list stays as it is.
    EXPECT_EQ(register_type(bare), old);
    expect_list(old, {&old[2], &again[1], &again[2], &old[1]});
    EXPECT_EQ(heads_named("_p_TestAgain"), std::vector<type_descriptor *>{old});
}

TEST(RegisterType, HeadWithoutClientDataKeepsTheNewArrays) {
    type_descriptor *first = make_array({"_p_TestClient", "_p_TestClient"});
    type_descriptor *second = make_array({"_p_TestClient", "_p_TestClient_b"});
    second->client_data = PyExc_KeyError;
    ASSERT_EQ(register_type(first), first);
    EXPECT_EQ(register_type(second), first);
    EXPECT_EQ(second->client_data, PyExc_KeyError);
    EXPECT_EQ(first->client_data, nullptr);
}

// check_type over a head with the equivalents Alpha, Beta, Gamma, Delta
// (entries 1 to 4): the tags are looked up in turn.
struct check_case {
    const char *label;
    std::vector<std::string> tags;
    int match;               // entry the last lookup gives, 0 for none
    std::vector<int> order;  // entries of the list afterwards
};

void PrintTo(const check_case &c, std::ostream *os) { *os << c.label; }

const check_case check_cases[] = {
    {"FirstEntryStays", {"_p_Alpha"}, 1, {1, 2, 3, 4}},
    {"SecondEntryMovesToFront", {"_p_Beta"}, 2, {2, 1, 3, 4}},
    {"MiddleEntryMovesToFront", {"_p_Gamma"}, 3, {3, 1, 2, 4}},
    {"LastEntryMovesToFront", {"_p_Delta"}, 4, {4, 1, 2, 3}},
    {"MovesAccumulate", {"_p_Gamma", "_p_Delta"}, 4, {4, 3, 1, 2}},
    {"MovedEntryIsFirstNextTime", {"_p_Delta", "_p_Delta"}, 4, {4, 1, 2, 3}},
    {"UnknownTag", {"_p_Zeta"}, 0, {1, 2, 3, 4}},
    {"PrefixOfAName", {"_p_Gamm"}, 0, {1, 2, 3, 4}},
    {"ExtensionOfAName", {"_p_Gammas"}, 0, {1, 2, 3, 4}},
    {"EmbeddedNul", {std::string("_p_Gamma\0x", 10)}, 0, {1, 2, 3, 4}},
    {"TrailingNul", {std::string("_p_Gamma\0", 9)}, 0, {1, 2, 3, 4}},
    {"CaseDiffers", {"_p_gamma"}, 0, {1, 2, 3, 4}},
    {"EmptyTag", {""}, 0, {1, 2, 3, 4}},
};

class CheckType : public ::testing::TestWithParam<check_case> {};

TEST_P(CheckType, FindsTheTagAndMovesItToTheFront) {
    const check_case &c = GetParam();
    type_descriptor *head = make_array({keep(std::string("_p_TestCheck") + c.label), "_p_Alpha",
                                        "_p_Beta", "_p_Gamma", "_p_Delta"});
    ASSERT_EQ(register_type(head), head);
    type_descriptor *older_head = head->prev;

    type_descriptor *result = nullptr;
    for (const std::string &tag : c.tags)
        result = check(tag, head);
    EXPECT_EQ(result, c.match ? &head[c.match] : nullptr);
    std::vector<type_descriptor *> order;
    for (int i : c.order)
        order.push_back(&head[i]);
    expect_list(head, order);
    EXPECT_EQ(head->prev, older_head) << "the head's place in the type list changed";
}

INSTANTIATE_TEST_SUITE_P(Tags, CheckType, ::testing::ValuesIn(check_cases),
                         [](const ::testing::TestParamInfo<check_case> &info) {
                             return std::string(info.param.label);
                         });

void *add_sixteen(void *address) { return static_cast<char *>(address) + 16; }

TEST(CastPointer, AppliesOnlyTheEntrysConverter) {
    static char block[32];
    type_descriptor with = {"_p_TestCast", add_sixteen, nullptr, nullptr, nullptr, nullptr, nullptr};
    type_descriptor without = {"_p_TestCast", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(cast_pointer(&with, block), block + 16);
    EXPECT_EQ(cast_pointer(&without, block), block);
    EXPECT_EQ(cast_pointer(nullptr, block), block);
}

struct unpack_case {
    const char *label;
    std::string text;
    int count;
    std::vector<unsigned char> bytes;
};

void PrintTo(const unpack_case &c, std::ostream *os) { *os << c.label; }

const unpack_case unpack_cases[] = {
    {"LowerCaseDigits", "c3b2a100", 4, {0xc3, 0xb2, 0xa1, 0x00}},
    {"EveryDigit", "0123456789abcdef", 8, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}},
    {"UpperCaseLetters", "C3B2A100", 4, {0x03, 0x03, 0x03, 0x00}},
    {"UpperCaseLowNibbles", "2F9A", 2, {0x20, 0x90}},
    {"FirstNonDigitKeepsThePreviousByte", "5aZ1", 2, {0x5a, 0x5b}},
    {"FirstNonDigitStartsFromZero", "Gf", 1, {0x0f}},
    {"SecondNonDigitLeavesTheByte", "3g", 1, {0x30}},
    {"TwoNonDigitsRepeatTheByte", "7fxx", 2, {0x7f, 0x7f}},
    {"NonDigitsAfterEightDigits", "0123abcdxx1", 5, {0x01, 0x23, 0xab, 0xcd, 0xcd}},
    {"Blanks", "4  7", 2, {0x40, 0x47}},
    {"BlankAndX", "a5 x", 2, {0xa5, 0xa5}},
    {"NonAsciiBytes", "\xc3\xa9", 1, {0x00}},
    {"ZeroCount", "ab", 0, {}},
    {"NegativeCount", "ab", -3, {}},
};

class UnpackHex : public ::testing::TestWithParam<unpack_case> {};

TEST_P(UnpackHex, DecodesByTheDigitRules) {
    const unpack_case &c = GetParam();
    unsigned char out[12];
    std::memset(out, 0xee, sizeof out);
    const char *end = unpack_hex(c.text.c_str(), out, c.count);
    EXPECT_EQ(end, c.text.c_str() + 2 * std::max(c.count, 0));
    EXPECT_EQ(std::vector<unsigned char>(out, out + c.bytes.size()), c.bytes);
    for (size_t i = c.bytes.size(); i < sizeof out; ++i)
        EXPECT_EQ(out[i], 0xee) << "byte " << i << " was written";
}

INSTANTIATE_TEST_SUITE_P(Texts, UnpackHex, ::testing::ValuesIn(unpack_cases),
                         [](const ::testing::TestParamInfo<unpack_case> &info) {
                             return std::string(info.param.label);
                         });

// Two lower-case digits per byte, high nibble first, bytes in order.
TEST(PackHex, EveryByteValueRoundTrips) {
    unsigned char bytes[256], back[256];
    char text[512];
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(pack_hex(text, bytes, 256), text + 512);
    for (int i = 0; i < 256; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", i);
        EXPECT_EQ(std::string(text + 2 * i, 2), pair);
    }
    EXPECT_EQ(unpack_hex(text, back, 256), text + 512);
    EXPECT_EQ(0, std::memcmp(bytes, back, sizeof bytes));
}

TEST(PackHex, NonPositiveCountWritesNothing) {
    const unsigned char bytes[] = {0x12, 0x34};
    for (int count : {0, -1, -100}) {
        char buffer[8];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(pack_hex(buffer, bytes, count), buffer) << count;
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#')) << count;
    }
}

// Conversion of Python objects. The addresses are never read, so any block will do.
unsigned char record[64];
char untouched_mark;
void *const untouched = &untouched_mark;
const char rimage_error[] = "Type error. Expected _p_RImage";
const char pointer_error[] = "Expected a pointer";

std::string digits_of(const void *address) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < sizeof address; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", reinterpret_cast<const unsigned char *>(&address)[i]);
        text += pair;
    }
    return text;
}

std::string text_for(const char *tag) { return "_" + digits_of(record) + tag; }

// Checks the pending error (none when `type` is null; any message when
// `message` is null) and clears it.
void expect_error(PyObject *type, const char *message) {
    PyObject *error_type, *value, *traceback;
    PyErr_Fetch(&error_type, &value, &traceback);
    PyErr_NormalizeException(&error_type, &value, &traceback);
    EXPECT_EQ(error_type, type);
    if (type && message && value) {
        owned text(PyObject_Str(value));
        EXPECT_STREQ(text ? PyUnicode_AsUTF8(text.get()) : "(no text)", message);
    }
    Py_XDECREF(error_type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    PyErr_Clear();
}

class PythonTest : public ::testing::Test {
protected:
    void SetUp() override {
        register_initial_types();
        ASSERT_NE(registered_types[RIMAGE_TYPE], nullptr);
        ASSERT_STREQ(registered_types[RIMAGE_TYPE]->name, "_p_RImage");
    }
    void TearDown() override { PyErr_Clear(); }
};

struct convert_case {
    const char *label;
    std::string text;
    bool typed;          // with registered_types[RIMAGE_TYPE], or with no descriptor
    int flags;
    int status;
    bool check_out;      // false where the value left in `out` is not fixed
    const void *address; // expected in `out`
    const char *error;   // TypeError message, or null for no error at all
};

void PrintTo(const convert_case &c, std::ostream *os) { *os << c.label; }

const int R = CONVERT_RAISE;
const std::string pad(2 * (sizeof(void *) - 4), '0');  // bytes above the lowest four
const void *const example_address = reinterpret_cast<const void *>(std::uintptr_t{0x00a1b2c3});
const void *const upper_address = reinterpret_cast<const void *>(std::uintptr_t{0x00030303});

const convert_case convert_cases[] = {
    {"Valid", text_for("_p_RImage"), true, R, 0, true, record, nullptr},
    {"ValidQuiet", text_for("_p_RImage"), true, 0, 0, true, record, nullptr},
    {"LeastSignificantByteFirst", "_c3b2a100" + pad + "_p_RImage", true, R, 0, true, example_address, nullptr},
    {"UpperCaseIsNoDigit", "_C3B2A100" + pad + "_p_RImage", true, R, 0, true, upper_address, nullptr},
    {"NullText", "NULL", true, R, 0, true, nullptr, nullptr},
    {"LowerCaseNull", "null", true, R, -1, true, nullptr, rimage_error},
    {"NullAndBlank", "NULL ", true, R, -1, true, nullptr, rimage_error},
    {"EmptyText", "", true, R, -1, true, nullptr, rimage_error},
    {"NoUnderscore", "x" + digits_of(record) + "_p_RImage", true, R, -1, true, nullptr, rimage_error},
    {"NoUnderscoreQuiet", "x" + digits_of(record) + "_p_RImage", true, 0, -1, true, nullptr, nullptr},
    {"OtherTag", text_for("_p_Other"), true, R, -1, true, record, rimage_error},
    {"OtherTagQuiet", text_for("_p_Other"), true, 0, -1, true, record, nullptr},
    {"TagPrefix", text_for("_p_RImag"), true, R, -1, true, record, rimage_error},
    {"TagAndNul", text_for("_p_RImage") + std::string(1, '\0'), true, R, -1, true, record, rimage_error},
    {"NoTag", text_for(""), true, R, -1, true, record, rimage_error},
    {"Truncated", "_c3b2a1", true, R, -1, false, nullptr, rimage_error},
    {"UntypedAnyTag", text_for("_p_Other"), false, R, 0, true, record, nullptr},
    {"UntypedNoTag", text_for(""), false, 0, 0, true, record, nullptr},
    {"UntypedNull", "NULL", false, R, 0, true, nullptr, nullptr},
    {"UntypedNoUnderscore", "null", false, R, -1, true, nullptr, pointer_error},
    {"UntypedTruncated", "_" + digits_of(record).substr(1), false, R, -1, false, nullptr, pointer_error},
};

class ObjectToPointerText : public PythonTest, public ::testing::WithParamInterface<convert_case> {};

TEST_P(ObjectToPointerText, ConvertsOrFails) {
    const convert_case &c = GetParam();
    owned text(PyUnicode_FromStringAndSize(c.text.data(), static_cast<Py_ssize_t>(c.text.size())));
    ASSERT_TRUE(text);
    void *out = untouched;
    EXPECT_EQ(object_to_pointer(text.get(), &out, c.typed ? registered_types[RIMAGE_TYPE] : nullptr, c.flags),
              c.status);
    if (c.check_out) {
        EXPECT_EQ(out, c.address);
    }
    expect_error(c.error ? PyExc_TypeError : nullptr, c.error);
}

INSTANTIATE_TEST_SUITE_P(Texts, ObjectToPointerText, ::testing::ValuesIn(convert_cases),
                         [](const ::testing::TestParamInfo<convert_case> &info) {
                             return std::string(info.param.label);
                         });

class ObjectToPointer : public PythonTest {
protected:
    void SetUp() override {
        PythonTest::SetUp();
        globals.reset(PyDict_New());
        ASSERT_TRUE(globals);
        PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins());
        owned good(PyUnicode_FromString(text_for("_p_RImage").c_str()));
        owned other(PyUnicode_FromString(text_for("_p_Other").c_str()));
        ASSERT_TRUE(good && other);
        PyDict_SetItemString(globals.get(), "good", good.get());
        PyDict_SetItemString(globals.get(), "other", other.get());
        owned done(PyRun_String("class Wrapper:\n"
                                "    def __init__(self, this):\n"
                                "        self.this = this\n"
                                "        self.thisown = 1\n"
                                "class Bare:\n"
                                "    pass\n"
                                "class Text(str):\n"
                                "    pass\n",
                                Py_file_input, globals.get(), globals.get()));
        ASSERT_TRUE(done);
    }

    owned eval(const char *expression) {
        PyObject *result = PyRun_String(expression, Py_eval_input, globals.get(), globals.get());
        EXPECT_NE(result, nullptr) << expression;
        return owned(result);
    }

    long thisown(PyObject *wrapper) {
        owned value(PyObject_GetAttrString(wrapper, "thisown"));
        return value ? PyLong_AsLong(value.get()) : -99;
    }

    owned globals;
};

TEST_F(ObjectToPointer, WrapperConvertsThroughThisAndDisownClearsThisown) {
    owned wrapper = eval("Wrapper(good)");
    ASSERT_TRUE(wrapper);
    void *out = untouched;
    EXPECT_EQ(object_to_pointer(wrapper.get(), &out, registered_types[RIMAGE_TYPE], CONVERT_RAISE), 0);
    EXPECT_EQ(out, record);
    EXPECT_EQ(thisown(wrapper.get()), 1);
    out = untouched;
    EXPECT_EQ(object_to_pointer(wrapper.get(), &out, registered_types[RIMAGE_TYPE], CONVERT_RAISE | CONVERT_DISOWN), 0);
    EXPECT_EQ(out, record);
    EXPECT_EQ(thisown(wrapper.get()), 0);
    expect_error(nullptr, nullptr);
}

TEST_F(ObjectToPointer, FailedConversionDisownsNothing) {
    owned wrapper = eval("Wrapper(other)");
    ASSERT_TRUE(wrapper);
    void *out = untouched;
    EXPECT_EQ(object_to_pointer(wrapper.get(), &out, registered_types[RIMAGE_TYPE], CONVERT_RAISE | CONVERT_DISOWN), -1);
    EXPECT_EQ(out, record);
    expect_error(PyExc_TypeError, rimage_error);
    EXPECT_EQ(thisown(wrapper.get()), 1);
}

TEST_F(ObjectToPointer, StringsAreNeverDisowned) {
    for (const char *expression : {"good", "Text(good)"}) {
        owned text = eval(expression);
        ASSERT_TRUE(text);
        void *out = untouched;
        EXPECT_EQ(object_to_pointer(text.get(), &out, registered_types[RIMAGE_TYPE], CONVERT_RAISE | CONVERT_DISOWN), 0)
            << expression;
        EXPECT_EQ(out, record) << expression;
        EXPECT_FALSE(PyObject_HasAttrString(text.get(), "thisown")) << expression;
        expect_error(nullptr, nullptr);
    }
}

TEST_F(ObjectToPointer, ObjectsWithoutATextFail) {
    struct row {
        const char *expression;
        bool typed;
        int flags;
        PyObject *error;
        const char *message;
    };
    const row rows[] = {
        {"Bare()", true, R, PyExc_TypeError, rimage_error},  // replaces the AttributeError
        {"Bare()", false, R, PyExc_TypeError, pointer_error},
        {"Bare()", true, 0, PyExc_AttributeError, nullptr},  // the lookup's own error stays
        {"Wrapper(5)", true, R, PyExc_TypeError, rimage_error},
        {"Wrapper(5)", true, 0, nullptr, nullptr},
        {"42", true, R, PyExc_TypeError, rimage_error},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::string(r.expression) + " flags " + std::to_string(r.flags));
        owned object = eval(r.expression);
        ASSERT_TRUE(object);
        void *out = untouched;
        EXPECT_EQ(object_to_pointer(object.get(), &out, r.typed ? registered_types[RIMAGE_TYPE] : nullptr, r.flags), -1);
        EXPECT_EQ(out, untouched);
        expect_error(r.error, r.message);
    }
}

TEST_F(ObjectToPointer, NoneAndMissingObject) {
    void *out = untouched;
    EXPECT_EQ(object_to_pointer(nullptr, &out, registered_types[RIMAGE_TYPE], CONVERT_RAISE), 0);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(object_to_pointer(Py_None, &out, registered_types[RIMAGE_TYPE], CONVERT_RAISE), 0);
    EXPECT_EQ(out, nullptr);
    expect_error(nullptr, nullptr);
}

TEST_F(ObjectToPointer, MatchedEntrysConverterApplies) {
    type_descriptor *head = make_array({"_p_TestConvert", "_p_TestConvert", "_p_TestConvertPlain"});
    head[1].converter = add_sixteen;
    ASSERT_EQ(register_type(head), head);
    const struct {
        const char *tag;
        int status;
        const void *address;
    } rows[] = {
        {"_p_TestConvert", 0, record + 16},
        {"_p_TestConvertPlain", 0, record},
        {"_p_RImage", -1, record},  // refused: the address as decoded
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.tag);
        owned text(PyUnicode_FromString(text_for(r.tag).c_str()));
        void *out = untouched;
        EXPECT_EQ(object_to_pointer(text.get(), &out, head, CONVERT_RAISE), r.status);
        EXPECT_EQ(out, r.address);
        expect_error(r.status ? PyExc_TypeError : nullptr, "Type error. Expected _p_TestConvert");
    }
}

}  // namespace
