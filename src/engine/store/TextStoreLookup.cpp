#include "TextStoreLookup.h"

TextStore::Lookup::Lookup(const TextStore &store) : store_(store) {
    buffers_.reserve(store.index_.chunks().size());
    for (const auto &chunk : store.index_.chunks())
        buffers_.push_back(chunk->bytes.data());
}
