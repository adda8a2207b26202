// The registry of pointer types: descriptor arrays, their registration into
// the process-wide type list, and the tag lookup with its move to the front.
#include "runtime/runtime.h"

#include <cstring>

namespace {

// RImage: the head, then the one tag accepted for it, then the end entry.
type_descriptor rimage_types[] = {
    {"_p_RImage", nullptr, "RImage *", nullptr, nullptr, nullptr, nullptr},
    {"_p_RImage", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

bool types_initialised = false;

// Length-counted, so a tag with an embedded NUL never matches.
bool tag_matches(const char *name, const char *tag, Py_ssize_t tag_length) {
    size_t name_length = std::strlen(name);
    return static_cast<Py_ssize_t>(name_length) == tag_length &&
           std::memcmp(name, tag, name_length) == 0;
}

}  // namespace

// RImage first: its row is RIMAGE_TYPE.
type_descriptor *const initial_types[] = {rimage_types, nullptr};

type_descriptor *registered_types[sizeof(initial_types) / sizeof(initial_types[0])];

type_descriptor *type_list = nullptr;

void register_initial_types() {
    // Registering an array twice would chain its equivalents onto themselves
    // and make every failed lookup loop forever, so this runs once per process.
    if (types_initialised)
        return;
    for (int i = 0; initial_types[i]; ++i)
        registered_types[i] = register_type(initial_types[i]);
    types_initialised = true;
}

type_descriptor *register_type(type_descriptor *array) {
    type_descriptor *head = array;
    type_descriptor *tail = nullptr;
    for (type_descriptor *known = type_list; known; known = known->prev) {
        if (std::strcmp(known->name, array->name) == 0) {
            head = known;
            break;
        }
    }
    if (head != array) {
        if (head->client_data)
            array->client_data = head->client_data;
        tail = head->next;
    } else {
        array->prev = type_list;
        type_list = array;
    }

    type_descriptor *last = head;
    for (type_descriptor *entry = array + 1; entry->name; ++entry) {
        last->next = entry;
        entry->prev = last;
        last = entry;
    }
    last->next = tail;
    if (tail)
        tail->prev = last;
    return head;
}

type_descriptor *check_type(const char *tag, Py_ssize_t tag_length, type_descriptor *descriptor) {
    if (!descriptor || !descriptor->next)
        return nullptr;
    type_descriptor *first = descriptor->next;
    for (type_descriptor *entry = first; entry; entry = entry->next) {
        if (!tag_matches(entry->name, tag, tag_length))
            continue;
        if (entry == first)
            return entry;
        // Move the match to the front so the tag seen last is compared first.
        entry->prev->next = entry->next;
        if (entry->next)
            entry->next->prev = entry->prev;
        entry->next = first;
        first->prev = entry;
        entry->prev = descriptor;
        descriptor->next = entry;
        return entry;
    }
    return nullptr;
}

void *cast_pointer(type_descriptor *entry, void *address) {
    return entry && entry->converter ? entry->converter(address) : address;
}
