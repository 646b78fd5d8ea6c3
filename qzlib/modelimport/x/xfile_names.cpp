#include <qzlib/modelimport/x/xfile_names.h>

#include <cstring>

namespace {

uint32_t HashName(const char* s) {
  uint32_t h = 2166136261u;
  for (; *s; ++s) h = (h ^ static_cast<uint8_t>(*s)) * 16777619u;
  return h;
}

uint32_t SlotCountFor(uint64_t entries) {
  uint32_t n = 16;
  while (n < entries * 2) n *= 2;
  return n;
}

// The texture-name table: names and their indices, grown by doubling into the pool.
struct XTextureNames {
  uint32_t mask;
  uint32_t count;
  const char** names;  // by slot
  int* indices;        // by slot
};

bool GrowTextureNames(XFileObjectList* list, XTextureNames* t) {
  uint32_t slots = SlotCountFor(static_cast<uint64_t>(t->count) + 1);
  if (t->names && slots <= t->mask + 1) return true;
  auto* names = static_cast<const char**>(XFileChunkAlloc(list, slots * sizeof(char*)));
  auto* indices = names ? static_cast<int*>(XFileChunkAlloc(list, slots * sizeof(int))) : nullptr;
  if (!indices) return false;
  for (uint32_t i = 0; t->names && i <= t->mask; ++i) {
    if (!t->names[i]) continue;
    uint32_t s = HashName(t->names[i]) & (slots - 1);
    while (names[s]) s = (s + 1) & (slots - 1);
    names[s] = t->names[i];
    indices[s] = t->indices[i];
  }
  t->names = names;
  t->indices = indices;
  t->mask = slots - 1;
  return true;
}

}  // namespace

int XNameTableBuild(XFileObjectList* list, XNameTable* table, XFileObject* from, int type) {
  uint64_t n = 0;
  for (XFileObject* o = from; o; o = o->next) ++n;
  uint32_t slots = SlotCountFor(n);
  table->mask = slots - 1;
  table->slots = static_cast<XFileObject**>(XFileChunkAlloc(list, slots * sizeof(XFileObject*)));
  if (!table->slots) return -1;
  for (XFileObject* o = from; o; o = o->next) {
    if (!o->name[0] || (type >= 0 && o->type != type)) continue;
    uint32_t s = HashName(o->name) & table->mask;
    while (table->slots[s] && std::strcmp(table->slots[s]->name, o->name) != 0) s = (s + 1) & table->mask;
    if (!table->slots[s]) table->slots[s] = o;
  }
  return 0;
}

XFileObject* XNameTableFind(const XNameTable* table, const char* name) {
  if (!table->slots) return nullptr;
  uint32_t s = HashName(name) & table->mask;
  while (table->slots[s]) {
    if (std::strcmp(table->slots[s]->name, name) == 0) return table->slots[s];
    s = (s + 1) & table->mask;
  }
  return nullptr;
}

int XNameIndexAdd(XFileObjectList* list, const char* name) {
  auto* t = static_cast<XTextureNames*>(list->textureNames);
  if (!t) {
    t = static_cast<XTextureNames*>(XFileChunkAlloc(list, sizeof(XTextureNames)));
    if (!t) return -1;
    list->textureNames = t;
  }
  if (t->names) {
    uint32_t s = HashName(name) & t->mask;
    for (; t->names[s]; s = (s + 1) & t->mask)
      if (std::strcmp(t->names[s], name) == 0) return t->indices[s];
  }
  if (!GrowTextureNames(list, t)) return -1;
  uint32_t s = HashName(name) & t->mask;
  while (t->names[s]) s = (s + 1) & t->mask;
  t->names[s] = name;
  t->indices[s] = static_cast<int>(t->count++);
  list->textureNameCount = static_cast<int>(t->count);
  return t->indices[s];
}
