#include <qzlib/modelimport/x/xfile_parser.h>

#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/strutil.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/x/xfile_names.h>
#include <qzlib/base/engine_texts.h>

const char* const XFileTemplateNames[XOBJ_TYPE_SLOTS] = {
    "", "", "Coords2d", "Matrix4x4", "ColorRGBA", "ColorRGB", "Material", "TextureFilename",
    "MeshFace", "MeshTextureCoords", "MeshNormals", "MeshMaterialList", "IndexedColor",
    "MeshVertexColors", "Mesh", "FrameTransformMatrix", "Frame", "FloatKeys", "TimedFloatKeys",
    "AnimationKey", "AnimationOption", "Animation", "AnimationSet", "XSkinMeshHeader", "SkinWeights",
    "", "", "", ""};

// Messages of refusals the file format leaves open.
#define X_MSG_HEADER "Load XFile : Header Too Short\n"
#define X_MSG_TOKEN "Load XFile : Token Beyond Data\n"
#define X_MSG_UNEXPECTED_TOKEN "Load XFile : Unexpected Token\n"
#define X_MSG_COUNT "Load XFile : Count Beyond Data\n"
#define X_MSG_LONG "Load XFile : Word Too Long\n"
#define X_MSG_STRAY_BRACE "Load XFile : Unmatched }\n"
#define X_MSG_DATA_SHORT "Load XFile : Data Ends Early\n"
#define X_MSG_NO_BRACE "Load XFile : Object Without {\n"

namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kWordSize = 256;  // template names, member words, strings
constexpr size_t kNameSize = 128;  // object and reference names
constexpr char kDefaultDelims[] = " \r\n\t,;";

// Binary token ids.
enum : uint16_t {
  TOK_NAME = 1, TOK_STRING = 2, TOK_INTEGER = 3, TOK_GUID = 5, TOK_INTEGER_LIST = 6,
  TOK_FLOAT_LIST = 7, TOK_OBRACE = 10, TOK_CBRACE = 11, TOK_TEMPLATE = 31,
};

uint16_t Rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Rd32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Character classes of the text form, one table lookup per byte.
enum : uint8_t {
  CC_DELIM = 1, CC_LEAD = 2, CC_OPEN = 4, CC_CLOSE = 8, CC_QUOTE = 16, CC_NUMBER_START = 32, CC_SLASH = 64,
  CC_WORD_EDGE = CC_DELIM | CC_OPEN | CC_CLOSE, CC_BRACES = CC_OPEN | CC_CLOSE,
};
struct CharClasses {
  uint8_t c[256] = {};
  constexpr CharClasses() {
    for (const char* d = kDefaultDelims; *d; ++d) c[static_cast<uint8_t>(*d)] |= CC_DELIM;
    c[uint8_t('{')] |= CC_OPEN;
    c[uint8_t('}')] |= CC_CLOSE;
    c[uint8_t('"')] |= CC_QUOTE;
    c[uint8_t('/')] |= CC_SLASH;
    for (const char* d = "-0123456789."; *d; ++d) c[static_cast<uint8_t>(*d)] |= CC_NUMBER_START;
    for (int i = 0x81; i <= 0x9F; ++i) c[i] |= CC_LEAD;
    for (int i = 0xE0; i <= 0xFC; ++i) c[i] |= CC_LEAD;
  }
};
constexpr CharClasses kClasses;

bool IsLead(uint8_t c) { return kClasses.c[c] & CC_LEAD; }

// A member word of a number: anything else means the object's data ended early (a brace or the
// next template name was reached).
bool IsNumberWord(const char* w, bool hasBrace) {
  return !hasBrace && ((w[0] >= '0' && w[0] <= '9') || w[0] == '-' || w[0] == '+' || w[0] == '.');
}

// Reading state shared by both forms.
struct XTokenReader {
  const uint8_t* data;
  size_t pos;
  size_t size;
  bool binary;
  bool float64;
  // binary: integers not yet taken from the current integer list
  const uint8_t* intList;
  uint32_t intLeft;
  bool wordHasBrace;

  size_t Left() const { return pos < size ? size - pos : 0; }

  // ---- text ----
  static bool InSet(uint8_t c, const char* set) {
    for (; *set; ++set)
      if (static_cast<uint8_t>(*set) == c) return true;
    return false;
  }
  bool IsDelim(uint8_t c, const char* extra) const {
    return (kClasses.c[c] & CC_DELIM) || (extra != nullptr && InSet(c, extra));
  }
  bool CommentAt(size_t p) const {
    if (data[p] == '/') return p + 1 < size && data[p + 1] == '/';
    // "#" begins a comment where a word could begin
    return data[p] == '#' && (p == 0 || (kClasses.c[data[p - 1]] & CC_WORD_EDGE));
  }
  void SkipLine() {
    while (pos < size && data[pos] != '\n') ++pos;
  }
  // Skips delimiters and comments; false at the end of the data.
  bool SkipBlanks(const char* extra) {
    if (!extra)
      while (pos < size && (kClasses.c[data[pos]] & CC_DELIM)) ++pos;
    while (pos < size) {
      if (IsDelim(data[pos], extra)) ++pos;
      else if (CommentAt(pos)) SkipLine();
      else return true;
    }
    return false;
  }
  // A whole plain-decimal word at pos (ReadPlainDecimal, ended by a delimiter or the end of the
  // data): pos moved past it. False, pos unchanged, for any other word; the general path reads
  // those. The word, as ScanWord would take it, is exactly these bytes.
  bool PlainDecimal(bool point, double* value, uint32_t* integer) {
    const char* begin = reinterpret_cast<const char*>(data);
    const char* stop = ReadPlainDecimal(begin + pos, begin + size, point, value, integer);
    if (!stop || (stop < begin + size && !(kClasses.c[static_cast<uint8_t>(*stop)] & CC_DELIM))) return false;
    pos = static_cast<size_t>(stop - begin);
    wordHasBrace = false;
    return true;
  }
  // 1: a word was copied to buf; 0: end of data; -1: longer than the buffer. wordHasBrace tells
  // whether the word holds a "{" or "}". extra: further delimiters, braces only.
  int ReadWord(char* buf, size_t cap, const char* extra, bool peek) {
    size_t start = pos, first;
    if (!ScanWord(extra, &first)) { pos = start; buf[0] = 0; return 0; }
    size_t n = pos - first;
    if (n >= cap) { pos = start; buf[0] = 0; return -1; }
    std::memcpy(buf, data + first, n);
    buf[n] = 0;
    if (peek) pos = start;
    return 1;
  }
  // The next word in place: false at the end of the data, else the word is [*first, pos).
  bool ScanWord(const char* extra, size_t* first) {
    if (!SkipBlanks(extra)) return false;
    *first = pos;
    uint8_t seen = 0;
    for (;;) {
      // plain bytes in one run; the extra delimiters are braces, so they end the run too
      while (pos < size && !(kClasses.c[data[pos]] & (CC_DELIM | CC_LEAD | CC_SLASH | CC_BRACES))) ++pos;
      if (pos >= size) break;
      uint8_t c = data[pos], cls = kClasses.c[c];
      if ((cls & CC_DELIM) || (extra != nullptr && InSet(c, extra)) || (c == '/' && pos + 1 < size && data[pos + 1] == '/'))
        break;
      seen |= cls;
      pos += ((cls & CC_LEAD) && pos + 1 < size) ? 2 : 1;
    }
    wordHasBrace = (seen & CC_BRACES) != 0;
    return true;
  }
  // The one scanner: moves to the next character of the classes and stays on it, passing over comments,
  // quoted strings (unless a quote is wanted) and double-byte characters whole. False at the end.
  bool SkipTo(uint8_t classes) {
    while (pos < size) {
      uint8_t c = data[pos];
      if (kClasses.c[c] & classes) return true;
      if (CommentAt(pos)) { SkipLine(); continue; }
      if (c == '"') {  // a string is passed over whole unless a quote is wanted
        ++pos;
        while (pos < size && data[pos] != '"') pos += (IsLead(data[pos]) && pos + 1 < size) ? 2 : 1;
        if (pos < size) ++pos;
        continue;
      }
      pos += (IsLead(c) && pos + 1 < size) ? 2 : 1;
    }
    return false;
  }
  // Unknown object: past its brace block. 1 done; 0 a "}" came before any "{" (left in place,
  // nothing skipped but the word already read); -1 end of data.
  int SkipBlock() {
    if (binary) return BinSkipBlock();
    if (!SkipTo(CC_BRACES)) return -1;
    if (data[pos] == '}') return 0;
    int depth = 0;
    while (SkipTo(CC_BRACES)) {
      depth += data[pos] == '{' ? 1 : -1;
      ++pos;
      if (depth == 0) return 1;
    }
    return -1;
  }

  // ---- binary ----
  // Whole size of the token at pos; false when it does not lie inside the data.
  bool TokenSize(size_t at, uint64_t* out) const {
    if (at >= size || size - at < 2) return false;
    uint16_t id = Rd16(data + at);
    uint64_t left = size - at, sz = 2;
    switch (id) {
      case TOK_NAME: case TOK_STRING: case TOK_INTEGER_LIST: case TOK_FLOAT_LIST: {
        if (left < 6) return false;
        uint64_t count = Rd32(data + at + 2);
        if (id == TOK_NAME) sz = 6 + count;
        else if (id == TOK_STRING) sz = 8 + count;
        else if (id == TOK_INTEGER_LIST) sz = 6 + 4 * count;
        else sz = 6 + (float64 ? 8 : 4) * count;
        break;
      }
      case TOK_INTEGER: sz = 6; break;
      case TOK_GUID: sz = 18; break;
      default: break;
    }
    if (sz > left) return false;
    *out = sz;
    return true;
  }
  bool PeekId(uint16_t* id) const {
    if (pos >= size || size - pos < 2) return false;
    *id = Rd16(data + pos);
    return true;
  }
  bool Step() {
    uint64_t sz;
    if (!TokenSize(pos, &sz)) return false;
    pos += static_cast<size_t>(sz);
    return true;
  }
  // Moves to the next token of id, stepping over others; false at the end or on a bad token.
  bool BinSkipToId(uint16_t want) {
    uint16_t id;
    while (PeekId(&id)) {
      if (id == want) return true;
      if (!Step()) return false;
    }
    return false;
  }
  int BinSkipBlock() {
    uint16_t id;
    while (PeekId(&id) && id != TOK_OBRACE) {
      if (id == TOK_CBRACE) return 0;
      if (!Step()) return -1;
    }
    int depth = 0;
    while (PeekId(&id)) {
      if (id == TOK_OBRACE) ++depth;
      else if (id == TOK_CBRACE) --depth;
      if (!Step()) return -1;
      if (depth == 0) return 1;
    }
    return -1;
  }
  // Name token at pos into buf: 1 done, 0 not a name token, -1 too long, -2 beyond the data.
  int BinReadName(char* buf, size_t cap) {
    uint16_t id;
    if (!PeekId(&id) || id != TOK_NAME) return 0;
    uint64_t sz;
    if (!TokenSize(pos, &sz)) return -2;
    uint32_t n = Rd32(data + pos + 2);
    if (n >= cap) return -1;
    std::memcpy(buf, data + pos + 6, n);
    buf[n] = 0;
    pos += static_cast<size_t>(sz);
    return 1;
  }
};

// Growable scratch array of tracked memory, freed with its owner.
template <class T>
struct XScratch {
  T* p = nullptr;
  size_t n = 0, cap = 0;
  ~XScratch() { MEM_FREE(p); }
  bool Push(T v) {
    if (n == cap) {
      size_t nc = cap ? cap * 2 : 256;
      T* q = static_cast<T*>(MEM_REALLOC(p, nc * sizeof(T)));
      if (!q) return false;
      p = q;
      cap = nc;
    }
    p[n++] = v;
    return true;
  }
};

struct Parser {
  XTokenReader r;
  XFileObjectList* list;
  XFileObject* obj;  // the object whose data is being read
  // scratch arrays reused by every object, freed with the parser
  XScratch<uint32_t> indexScratch;
  XScratch<float> floatScratch;
  XScratch<size_t> firstScratch;

  int Fail(const char* msg) { return WriteLog(msg); }

  // ---- members, either form ----
  // One unsigned integer member.
  int Int(uint32_t* v) {
    if (r.binary) {
      for (;;) {
        if (r.intLeft > 0) {
          *v = Rd32(r.intList);
          r.intList += 4;
          --r.intLeft;
          return 0;
        }
        uint16_t id;
        if (!r.PeekId(&id)) return Fail(X_MSG_DATA_SHORT);
        uint64_t sz;
        if (!r.TokenSize(r.pos, &sz)) return Fail(X_MSG_TOKEN);
        if (id == TOK_INTEGER) {
          *v = Rd32(r.data + r.pos + 2);
          r.pos += 6;
          return 0;
        }
        if (id != TOK_INTEGER_LIST) return Fail(X_MSG_UNEXPECTED_TOKEN);
        r.intLeft = Rd32(r.data + r.pos + 2);
        r.intList = r.data + r.pos + 6;
        r.pos += static_cast<size_t>(sz);
      }
    }
    // the common plain integer in place, else the word through AsciiToInt (which wraps)
    double unused;
    if (r.SkipBlanks(nullptr) && r.PlainDecimal(false, &unused, v)) return 0;
    char w[kWordSize];
    int rc = r.ReadWord(w, sizeof w, nullptr, false);
    if (rc < 0) return Fail(X_MSG_LONG);
    if (rc == 0 || !IsNumberWord(w, r.wordHasBrace)) return Fail(X_MSG_DATA_SHORT);
    *v = static_cast<uint32_t>(AsciiToInt(w));
    return 0;
  }
  // A count of elements each needing at least minBytes bytes (text) or binBytes (binary).
  int Count(uint32_t* v, uint64_t minBytes, uint64_t binBytes) {
    if (Int(v) < 0) return -1;
    if (!r.binary && static_cast<int32_t>(*v) < 0) return Fail(X_MSG_COUNT);
    uint64_t need = static_cast<uint64_t>(*v) * (r.binary ? binBytes : minBytes);
    if (need > r.Left() + (r.binary ? 4ull * r.intLeft : 0)) return Fail(X_MSG_COUNT);
    return 0;
  }
  // Text: one float member, converted in place.
  int TextFloat(float* f) {
    // the common plain decimal in place, exactly as AsciiToDoubleN converts it
    double d;
    if (r.SkipBlanks(nullptr) && r.PlainDecimal(true, &d, nullptr)) {
      *f = static_cast<float>(d);
      return 0;
    }
    size_t first;
    if (!r.ScanWord(nullptr, &first)) return Fail(X_MSG_DATA_SHORT);
    const char* w = reinterpret_cast<const char*>(r.data + first);
    if (r.pos - first >= kWordSize) return Fail(X_MSG_LONG);
    if (!IsNumberWord(w, r.wordHasBrace)) return Fail(X_MSG_DATA_SHORT);
    *f = static_cast<float>(AsciiToDoubleN(w, r.pos - first));
    return 0;
  }
  // Binary: the float list at pos; its count and first value. 0 done, -1 not a float list.
  int BinFloatList(uint32_t* count, const uint8_t** values) {
    r.intLeft = 0;
    uint16_t id;
    uint64_t sz;
    if (!r.PeekId(&id) || id != TOK_FLOAT_LIST) return -1;
    if (!r.TokenSize(r.pos, &sz)) return -1;
    *count = Rd32(r.data + r.pos + 2);
    *values = r.data + r.pos + 6;
    r.pos += static_cast<size_t>(sz);
    return 0;
  }
  float BinFloat(const uint8_t* values, uint64_t i) const {
    if (r.float64) {
      double d;
      std::memcpy(&d, values + 8 * i, 8);
      return static_cast<float>(d);
    }
    float f;
    std::memcpy(&f, values + 4 * i, 4);
    return f;
  }
  // n floats: text as n members, binary as one float list of exactly n. notList and notCount are
  // the template's messages (notCount a format taking the expected and the found count).
  int Floats(float* out, uint32_t n, const char* notList, const char* notCount) {
    if (!r.binary) {
      for (uint32_t i = 0; i < n; ++i)
        if (TextFloat(&out[i]) < 0) return -1;
      return 0;
    }
    uint32_t count;
    const uint8_t* values;
    if (BinFloatList(&count, &values) < 0) return Fail(notList ? notList : X_MSG_UNEXPECTED_TOKEN);
    if (count != n) {
      if (notCount) return WriteLogFmt(notCount, static_cast<int>(n), static_cast<int>(count));
      return Fail(X_MSG_UNEXPECTED_TOKEN);
    }
    for (uint32_t i = 0; i < n; ++i) out[i] = BinFloat(values, i);
    return 0;
  }
  // A string member into buf (at most kWordSize - 1 bytes).
  int String(char* buf) {
    if (r.binary) {
      r.intLeft = 0;
      uint16_t id;
      uint64_t sz;
      if (!r.PeekId(&id)) return Fail(X_MSG_DATA_SHORT);
      if (id != TOK_STRING) return Fail(X_MSG_UNEXPECTED_TOKEN);
      if (!r.TokenSize(r.pos, &sz)) return Fail(X_MSG_TOKEN);
      uint32_t n = Rd32(r.data + r.pos + 2);
      if (n >= kWordSize) return Fail(X_MSG_LONG);
      std::memcpy(buf, r.data + r.pos + 6, n);
      buf[n] = 0;
      r.pos += static_cast<size_t>(sz);
      return 0;
    }
    if (!r.SkipTo(CC_QUOTE | CC_BRACES) || r.data[r.pos] != '"') return Fail(X_MSG_DATA_SHORT);
    ++r.pos;
    size_t n = 0;
    while (r.pos < r.size && r.data[r.pos] != '"') {
      size_t len = (IsLead(r.data[r.pos]) && r.pos + 1 < r.size) ? 2 : 1;
      if (n + len >= kWordSize) return Fail(X_MSG_LONG);
      for (size_t i = 0; i < len; ++i) buf[n++] = static_cast<char>(r.data[r.pos++]);
    }
    if (r.pos >= r.size) return Fail(X_MSG_DATA_SHORT);
    ++r.pos;
    buf[n] = 0;
    return 0;
  }
  char* PoolString(const char* s) {
    size_t n = std::strlen(s) + 1;
    char* p = static_cast<char*>(XFileChunkAlloc(list, n));
    if (!p) {
      WriteLogFmt(TEXT_X_ALLOC_STRING "\n", s);
      return nullptr;
    }
    std::memcpy(p, s, n);
    return p;
  }
  template <class T>
  T* Array(uint64_t n, const char* allocMsg) {
    if (n == 0) n = 1;  // a zero-length array still gets a valid pointer
    T* p = static_cast<T*>(XFileChunkAlloc(list, static_cast<size_t>(n * sizeof(T))));
    if (!p) WriteLog(allocMsg);
    return p;
  }

  // ---- faces ----
  // One face: its vertex count and indices appended to idx.
  int Face(XScratch<uint32_t>* idx, const char* allocMsg) {
    if (!r.binary) {
      if (!r.SkipTo(CC_NUMBER_START | CC_BRACES) || r.data[r.pos] == '{' || r.data[r.pos] == '}')
        return Fail(X_MSG_DATA_SHORT);
    }
    uint32_t n;
    if (Count(&n, 1, 4) < 0) return -1;
    if (n > kXMaxFaceVertices) return WriteLogFmt(TEXT_X_FACE_TOO_MANY, static_cast<int>(kXMaxFaceVertices), static_cast<int>(n));
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t v;
      if (Int(&v) < 0) return -1;
      if (!idx->Push(v)) return Fail(allocMsg);
    }
    return 0;
  }
  int Faces(XFaceList* out, uint32_t count, const char* allocMsg) {
    out->count = count;
    out->starts = Array<uint32_t>(static_cast<uint64_t>(count) + 1, allocMsg);
    if (!out->starts) return -1;
    XScratch<uint32_t>& idx = indexScratch;
    idx.n = 0;
    for (uint32_t f = 0; f < count; ++f) {
      out->starts[f] = static_cast<uint32_t>(idx.n);
      if (Face(&idx, allocMsg) < 0) return -1;
    }
    out->starts[count] = static_cast<uint32_t>(idx.n);
    out->indices = Array<uint32_t>(idx.n, allocMsg);
    if (!out->indices) return -1;
    if (idx.n) std::memcpy(out->indices, idx.p, idx.n * sizeof(uint32_t));
    return 0;
  }
  // count records of width floats (binary: one float list of width x count, else notList or the
  // format notCount with the expected and the found count).
  int Records(float* out, uint32_t count, uint32_t width, const char* notList, const char* notCount) {
    uint64_t total = static_cast<uint64_t>(count) * width;
    if (!r.binary) return Floats(out, static_cast<uint32_t>(total), nullptr, nullptr);
    uint32_t n;
    const uint8_t* values;
    if (BinFloatList(&n, &values) < 0) return Fail(notList);
    if (n != total) return WriteLogFmt(notCount, static_cast<int>(total), static_cast<int>(n));
    for (uint64_t i = 0; i < n; ++i) out[i] = BinFloat(values, i);
    return 0;
  }
  // Mesh and MeshNormals: a vector count, the vectors, a face count, the faces.
  int VectorsAndFaces(uint32_t* count, VECTOR** vectors, XFaceList* faces, const char* vectorAlloc,
                      const char* faceAlloc, const char* notList, const char* notCount) {
    if (Count(count, 3, 12) < 0) return -1;
    *vectors = Array<VECTOR>(*count, vectorAlloc);
    if (!*vectors || Records(&(*vectors)[0].x, *count, 3, notList, notCount) < 0) return -1;
    uint32_t n;
    if (Count(&n, 2, 4) < 0) return -1;
    return Faces(faces, n, faceAlloc);
  }
  // A FloatKeys body: value count, then the values (binary: one float list).
  int FloatKeysBody(XFloatKeys* k, XScratch<float>* pool, size_t* first, const char* allocMsg) {
    uint32_t n;
    if (Count(&n, 1, 4) < 0) return -1;
    *first = pool->n;
    k->count = n;
    if (!r.binary) {
      for (uint32_t i = 0; i < n; ++i) {
        float f;
        if (TextFloat(&f) < 0) return -1;
        if (!pool->Push(f)) return Fail(allocMsg);
      }
      return 0;
    }
    uint32_t got;
    const uint8_t* values;
    if (BinFloatList(&got, &values) < 0 || got != n) return Fail(X_MSG_UNEXPECTED_TOKEN);
    for (uint32_t i = 0; i < n; ++i)
      if (!pool->Push(BinFloat(values, i))) return Fail(allocMsg);
    return 0;
  }
  float* CopyFloats(const XScratch<float>& pool, const char* allocMsg) {
    float* p = Array<float>(pool.n, allocMsg);
    if (p && pool.n) std::memcpy(p, pool.p, pool.n * sizeof(float));
    return p;
  }

  // ---- template readers ----
  int ReadMaterial() {
    auto& m = obj->data.material;
    float v[11];
    if (r.binary) {
      uint32_t n;
      const uint8_t* values;
      if (BinFloatList(&n, &values) < 0) return Fail("Load XFile : Material FloadList\n");
      if (n != 11) return Fail("Load XFile : Material Not 11\n");
      for (int i = 0; i < 11; ++i) v[i] = BinFloat(values, i);
    } else if (Floats(v, 11, nullptr, nullptr) < 0) {
      return -1;
    }
    std::memcpy(m.faceColor, v, 4 * sizeof(float));
    m.power = v[4];
    std::memcpy(m.specular, v + 5, 3 * sizeof(float));
    std::memcpy(m.emissive, v + 8, 3 * sizeof(float));
    return 0;
  }
  int ReadTextureFilename() {
    char s[kWordSize];
    if (String(s) < 0) return -1;
    auto& t = obj->data.textureFilename;
    t.fileName = PoolString(s);
    if (!t.fileName) return -1;
    t.nameIndex = XNameIndexAdd(list, t.fileName);
    if (t.nameIndex < 0) return WriteLog(TEXT_X_ALLOC_TEXNAMELIST "\n");
    return 0;
  }
  int ReadMeshTextureCoords() {
    auto& t = obj->data.textureCoords;
    uint32_t n;
    if (Count(&n, 2, 8) < 0) return -1;
    t.count = n;
    t.coords = Array<UV>(n, TEXT_X_ALLOC_UV "\n");
    if (!t.coords) return -1;
    return Records(&t.coords[0].u, n, 2, "Load XFile : MeshTextureCorrds FloadList\n",
                   "Load XFile : MeshTextureCorrds Not %d ( %d )\n");
  }
  int ReadMeshNormals() {
    auto& m = obj->data.meshNormals;
    return VectorsAndFaces(&m.normalCount, &m.normals, &m.faces, TEXT_X_ALLOC_NORMAL "\n", TEXT_X_ALLOC_NORMAL_FACE "\n",
                           "Load XFile : MeshNormals FloadList\n", "Load XFile : MeshNormals Not %d ( %d )\n");
  }
  int ReadMeshMaterialList() {
    auto& m = obj->data.materialList;
    if (r.binary) {
      uint16_t id;
      r.intLeft = 0;
      if (!r.PeekId(&id) || id != TOK_INTEGER_LIST) return Fail("Load XFile : MeshMaterialList IntergerList\n");
    }
    if (Count(&m.nMaterials, 0, 0) < 0 || Count(&m.nFaceIndexes, 1, 4) < 0) return -1;
    m.indices = Array<uint32_t>(m.nFaceIndexes, TEXT_X_ALLOC_MATERIAL_FACE "\n");
    if (!m.indices) return -1;
    bool outside = m.nFaceIndexes == 0 && m.nMaterials == 0;
    for (uint32_t i = 0; i < m.nFaceIndexes; ++i) {
      if (Int(&m.indices[i]) < 0) return -1;
      if (m.indices[i] >= m.nMaterials) outside = true;
    }
    if (outside) return WriteLog(TEXT_X_MATERIAL_INDEX "\n");
    return 0;
  }
  int IndexedColorBody(XIndexedColor* c) {
    if (Int(&c->index) < 0) return -1;
    return Floats(&c->color.r, 4, "Load XFile : IndexedColor FloadList\n", nullptr);
  }
  int ReadMeshVertexColors() {
    auto& v = obj->data.vertexColors;
    if (Count(&v.count, 5, 4) < 0) return -1;
    v.colors = Array<XIndexedColor>(v.count, TEXT_X_ALLOC_VERTEX_COLOR "\n");
    if (!v.colors) return -1;
    for (uint32_t i = 0; i < v.count; ++i)
      if (IndexedColorBody(&v.colors[i]) < 0) return -1;
    return 0;
  }
  int ReadMesh() {
    auto& m = obj->data.mesh;
    if (VectorsAndFaces(&m.vertexCount, &m.vertices, &m.faces, TEXT_X_ALLOC_VERTEX "\n", TEXT_X_ALLOC_FACE "\n",
                        "Load XFile : Mesh FloadList\n", "Load XFile : Mesh Not %d ( %d )\n") < 0)
      return -1;
    for (uint32_t f = 0; f < m.faces.count; ++f) m.triangleEstimate += XFaceVertexCount(m.faces, f) == 4 ? 2 : 1;
    return 0;
  }
  int ReadFrameTransformMatrix() {
    float* out = &obj->data.transformMatrix.m[0][0];
    if (!r.binary) {
      if (Floats(out, 16, nullptr, nullptr) < 0) return -1;
      // past the matrix's closing separator, never past the object's "}"
      if (r.SkipBlanks(nullptr) && (r.data[r.pos] == ';' || r.data[r.pos] == ',')) ++r.pos;
      return 0;
    }
    uint32_t n;
    const uint8_t* values;
    if (BinFloatList(&n, &values) < 0) return Fail("Load XFile : FrameTransformMatrix FloadList\n");
    if (n == 16) {
      for (int i = 0; i < 16; ++i) out[i] = BinFloat(values, i);
      return 0;
    }
    if (n != 4) return WriteLogFmt("Load XFile : FrameTransformMatrix Not 16 ( %d )\n", static_cast<int>(n));
    for (int row = 0; row < 4; ++row) {
      if (row > 0 && BinFloatList(&n, &values) < 0)
        return WriteLogFmt("Load XFile : FrameTransformMatrix MatrixLine No.%d FloadList\n", row);
      if (n != 4) return WriteLogFmt("Load XFile : FrameTransformMatrix MatrixLine No.%d Not 4 ( %d )\n", row, static_cast<int>(n));
      for (int i = 0; i < 4; ++i) out[row * 4 + i] = BinFloat(values, i);
    }
    return 0;
  }
  int ReadFloatKeys() {
    XScratch<float>& pool = floatScratch;
    pool.n = 0;
    size_t first;
    auto& k = obj->data.floatKeys;
    if (FloatKeysBody(&k, &pool, &first, TEXT_X_ALLOC_FLOAT_LIST "\n") < 0) return -1;
    k.values = CopyFloats(pool, TEXT_X_ALLOC_FLOAT_LIST "\n");
    return k.values ? 0 : -1;
  }
  int ReadTimedFloatKeys() {
    XScratch<float>& pool = floatScratch;
    pool.n = 0;
    size_t first;
    auto& k = obj->data.timedFloatKeys;
    if (Int(&k.time) < 0) return -1;
    if (FloatKeysBody(&k.keys, &pool, &first, TEXT_X_ALLOC_FLOAT_KEYS "\n") < 0) return -1;
    k.keys.values = CopyFloats(pool, TEXT_X_ALLOC_FLOAT_KEYS "\n");
    return k.keys.values ? 0 : -1;
  }
  int ReadAnimationKey() {
    auto& a = obj->data.animationKey;
    if (Int(&a.keyType) < 0 || Count(&a.keyCount, 3, 8) < 0) return -1;
    a.keys = Array<XTimedFloatKeys>(a.keyCount, TEXT_X_ALLOC_ANIM_KEY_LIST "\n");
    if (!a.keys) return -1;
    XScratch<float>& pool = floatScratch;
    pool.n = 0;
    XScratch<size_t>& firsts = firstScratch;
    firsts.n = 0;
    for (uint32_t i = 0; i < a.keyCount; ++i) {
      size_t first;
      if (Int(&a.keys[i].time) < 0) return -1;
      if (FloatKeysBody(&a.keys[i].keys, &pool, &first, TEXT_X_ALLOC_ANIM_KEY_FLOAT "\n") < 0) return -1;
      if (!firsts.Push(first)) return WriteLog(TEXT_X_ALLOC_ANIM_KEY_FLOAT "\n");
    }
    float* values = CopyFloats(pool, TEXT_X_ALLOC_ANIM_KEY_FLOAT "\n");
    if (!values) return -1;
    for (uint32_t i = 0; i < a.keyCount; ++i) a.keys[i].keys.values = values + firsts.p[i];
    return 0;
  }
  int ReadXSkinMeshHeader() {
    auto& h = obj->data.skinMeshHeader;
    if (r.binary) {
      r.intLeft = 0;
      uint16_t id;
      uint64_t sz;
      if (!r.PeekId(&id) || id != TOK_INTEGER_LIST || !r.TokenSize(r.pos, &sz))
        return Fail("Load XFile : XSkinMeshHeader IntergerList\n");
      uint32_t n = Rd32(r.data + r.pos + 2);
      if (n != 3) return WriteLogFmt("Load XFile : XSkinMeshHeader Not 3 ( %d )\n", static_cast<int>(n));
    }
    uint32_t v[3];
    for (auto& x : v)
      if (Int(&x) < 0) return -1;
    h.maxWeightsPerVertex = static_cast<int>(v[0]);
    h.maxWeightsPerFace = static_cast<int>(v[1]);
    h.bones = static_cast<int>(v[2]);
    return 0;
  }
  int ReadSkinWeights() {
    auto& s = obj->data.skinWeights;
    char name[kWordSize];
    if (String(name) < 0) return -1;
    s.transformNodeName = PoolString(name);
    if (!s.transformNodeName) return -1;
    if (r.binary) {
      r.intLeft = 0;
      uint16_t id;
      uint64_t sz;
      if (!r.PeekId(&id) || id != TOK_INTEGER_LIST || !r.TokenSize(r.pos, &sz) || sz < 10)
        return Fail("Load XFile : SkinWeights TargetVertex IntegerList\n");
      uint64_t listCount = Rd32(r.data + r.pos + 2);
      uint64_t n = Rd32(r.data + r.pos + 6);
      if (listCount != n + 1)
        return WriteLogFmt("Load XFile : SkinWeights TargetVertex Not %d ( %d )\n", static_cast<int>(n + 1), static_cast<int>(listCount));
    }
    if (Count(&s.weightCount, 2, 4) < 0) return -1;
    s.indices = Array<uint32_t>(s.weightCount, TEXT_X_ALLOC_SKIN_INDEX "\n");
    if (!s.indices) return -1;
    s.weights = Array<float>(s.weightCount, TEXT_X_ALLOC_SKIN_WEIGHT "\n");
    if (!s.weights) return -1;
    for (uint32_t i = 0; i < s.weightCount; ++i)
      if (Int(&s.indices[i]) < 0) return -1;
    float* m = &s.offset.m[0][0];
    if (!r.binary) {
      if (Floats(s.weights, s.weightCount, nullptr, nullptr) < 0) return -1;
      return Floats(m, 16, nullptr, nullptr);
    }
    uint32_t got;
    const uint8_t* values;
    if (BinFloatList(&got, &values) < 0) return Fail("Load XFile : SkinWeights WeightValue FloatList\n");
    if (got != static_cast<uint64_t>(s.weightCount) + 16)
      return WriteLogFmt("Load XFile : SkinWeights WeightValue Not %d ( %d )\n", static_cast<int>(s.weightCount + 16), static_cast<int>(got));
    for (uint32_t i = 0; i < s.weightCount; ++i) s.weights[i] = BinFloat(values, i);
    for (int i = 0; i < 16; ++i) m[i] = BinFloat(values, s.weightCount + i);
    return 0;
  }
  int ReadTemplateData() {
    r.intLeft = 0;
    switch (obj->type) {
      case XOBJ_MATERIAL: return ReadMaterial();
      case XOBJ_TEXTUREFILENAME: return ReadTextureFilename();
      case XOBJ_MESHFACE: {
        auto& f = obj->data.meshFace;
        return Faces(&f, 1, TEXT_X_ALLOC_FACE "\n");
      }
      case XOBJ_MESHTEXTURECOORDS: return ReadMeshTextureCoords();
      case XOBJ_MESHNORMALS: return ReadMeshNormals();
      case XOBJ_MESHMATERIALLIST: return ReadMeshMaterialList();
      case XOBJ_INDEXEDCOLOR: return IndexedColorBody(&obj->data.indexedColor);
      case XOBJ_MESHVERTEXCOLORS: return ReadMeshVertexColors();
      case XOBJ_MESH: return ReadMesh();
      case XOBJ_FRAMETRANSFORMMATRIX: return ReadFrameTransformMatrix();
      case XOBJ_FLOATKEYS: return ReadFloatKeys();
      case XOBJ_TIMEDFLOATKEYS: return ReadTimedFloatKeys();
      case XOBJ_ANIMATIONKEY: return ReadAnimationKey();
      case XOBJ_ANIMATIONOPTION: {
        uint32_t a, b;
        if (Int(&a) < 0 || Int(&b) < 0) return -1;
        obj->data.animationOption.openClosed = static_cast<int>(a);
        obj->data.animationOption.positionQuality = static_cast<int>(b);
        return 0;
      }
      case XOBJ_XSKINMESHHEADER: return ReadXSkinMeshHeader();
      case XOBJ_SKINWEIGHTS: return ReadSkinWeights();
      default: return 0;  // Frame, Animation, AnimationSet: children and references only
    }
  }

  // ---- references ----
  int AddReference(XFileObject* owner, const char* name, XFileObject* target) {
    if (owner->refCount == owner->refCapacity) {
      uint32_t cap = owner->refCapacity < 16 ? 32 : owner->refCapacity * 2;
      auto** refs = static_cast<XFileObject**>(XFileChunkAlloc(list, cap * sizeof(XFileObject*)));
      if (!refs) return WriteLog(TEXT_X_REF_POINTER_ALLOC "\n");
      auto** names = static_cast<char**>(XFileChunkAlloc(list, cap * sizeof(char*)));
      if (!names) return WriteLog(TEXT_X_REF_POINTER_ALLOC "\n");
      if (owner->refCount) {
        std::memcpy(refs, owner->refs, owner->refCount * sizeof(XFileObject*));
        std::memcpy(names, owner->refNames, owner->refCount * sizeof(char*));
      }
      owner->refs = refs;
      owner->refNames = names;
      owner->refCapacity = cap;
    }
    char* stored = nullptr;
    if (name) {
      size_t n = std::strlen(name) + 1;
      stored = static_cast<char*>(XFileChunkAlloc(list, n));
      if (!stored) return WriteLog(TEXT_X_REF_NAME_ALLOC);
      std::memcpy(stored, name, n);
    }
    owner->refs[owner->refCount] = target;
    owner->refNames[owner->refCount] = stored;
    ++owner->refCount;
    return 0;
  }
  int ResolveReferences(XFileObject* firstNew) {
    XNameTable names;
    if (XNameTableBuild(list, &names, firstNew, -1) < 0) return WriteLog(TEXT_X_REF_POINTER_ALLOC "\n");
    for (XFileObject* o = list->first; o; o = o->next) {
      // the array may move while it is walked (a self-reference appends to it)
      for (uint32_t i = 0; i < o->refCount; ++i) {
        if (o->refs[i] != nullptr || o->refNames[i] == nullptr) continue;
        XFileObject* found = o->refNames[i][0] ? XNameTableFind(&names, o->refNames[i]) : nullptr;
        if (!found) {
          WriteLog(TEXT_X_REF_FAILED "\n");
          continue;
        }
        o->refs[i] = found;
        if (AddReference(found, nullptr, o) < 0) return -1;
      }
    }
    return 0;
  }

  // A skip ran off the end of the data: the file ends inside an object, as an open object does
  // (binary: a token cut by the end of the data is refused as such).
  int RanOffTheEnd() {
    if (r.binary && r.pos < r.size) return Fail(X_MSG_TOKEN);
    return WriteLog(TEXT_X_UNEXPECTED_EOF "\n");
  }

  // ---- the object loop ----
  int Run() {
    XFileObject* stack[kMaxDepth];
    int depth = 0;
    XFileObject* firstNew = nullptr;
    stack[depth++] = list->first;
    char word[kWordSize];
    char name[kNameSize];
    for (;;) {
      XFileObject* parent = stack[depth - 1];
      // 1-2: end of data, references, closing braces, the template name
      if (r.binary) {
        uint16_t id;
        if (r.pos >= r.size) break;
        if (!r.PeekId(&id)) return Fail(X_MSG_TOKEN);
        if (id == TOK_OBRACE) {
          if (!r.Step() || !r.BinSkipToId(TOK_NAME)) return RanOffTheEnd();
          int rc = r.BinReadName(name, sizeof name);
          if (rc < 0) return Fail(rc == -1 ? X_MSG_LONG : X_MSG_TOKEN);
          if (!r.BinSkipToId(TOK_CBRACE) || !r.Step()) return RanOffTheEnd();
          if (parent && AddReference(parent, name, nullptr) < 0) return -1;
          continue;
        }
        if (id == TOK_CBRACE) {
          if (depth == 1) return Fail(X_MSG_STRAY_BRACE);
          --depth;
          r.Step();
          continue;
        }
        if (id == TOK_TEMPLATE) {
          if (!r.Step()) return Fail(X_MSG_TOKEN);
          if (r.BinSkipBlock() < 0) return RanOffTheEnd();
          continue;
        }
        if (id != TOK_NAME) {
          if (!r.Step()) return Fail(X_MSG_TOKEN);
          continue;
        }
        int rc = r.BinReadName(word, sizeof word);
        if (rc < 0) return Fail(rc == -1 ? X_MSG_LONG : X_MSG_TOKEN);
      } else {
        int rc = r.ReadWord(word, sizeof word, nullptr, true);
        if (rc == 0) break;
        if (rc < 0) return Fail(X_MSG_LONG);
        if (word[0] == '{') {
          if (!r.SkipTo(CC_OPEN)) return RanOffTheEnd();
          ++r.pos;
          name[0] = 0;
          if (r.SkipBlanks(nullptr) && r.data[r.pos] != '}') {
            if (r.ReadWord(name, sizeof name, "}", false) < 0) return Fail(X_MSG_LONG);
          }
          if (!r.SkipTo(CC_CLOSE)) return RanOffTheEnd();
          ++r.pos;
          if (parent && AddReference(parent, name, nullptr) < 0) return -1;
          continue;
        }
        // a word without blanks may hold several braces: the first one decides
        const char* brace = std::strpbrk(word, "{}");
        if (brace && *brace == '}') {
          if (depth == 1) return Fail(X_MSG_STRAY_BRACE);
          --depth;
          if (!r.SkipTo(CC_CLOSE)) return RanOffTheEnd();
          ++r.pos;
          continue;
        }
        rc = r.ReadWord(word, sizeof word, std::strchr(word, '{') ? "{" : nullptr, false);
        if (rc < 0) return Fail(X_MSG_LONG);
        if (word[0] == '<') continue;  // an object's GUID
      }
      // 3: the template
      int type = -1;
      // names are ASCII: a name whose first letter differs even in either case is passed over
      const unsigned char first = static_cast<unsigned char>(word[0]) | 0x20;
      for (int t = 0; t < XOBJ_TYPE_SLOTS; ++t) {
        const char* known = XFileTemplateNames[t];
        if (known[0] && (static_cast<unsigned char>(known[0]) | 0x20) == first &&
            StrICompare(word, known) == 0) {
          type = t;
          break;
        }
      }
      if (type < 0 || (type >= XOBJ_COORDS2D && type <= XOBJ_COLORRGB)) {
        // unknown objects, and the basic templates that have no reader, are passed over whole
        if (r.SkipBlock() < 0) return RanOffTheEnd();
        continue;
      }
      // 4: the object's name
      name[0] = 0;
      if (r.binary) {
        int rc = r.BinReadName(name, sizeof name);
        if (rc < 0) return Fail(rc == -1 ? X_MSG_LONG : X_MSG_TOKEN);
      } else {
        char peek[kWordSize];
        int rc = r.ReadWord(peek, sizeof peek, nullptr, true);
        if (rc < 0) return Fail(X_MSG_LONG);
        if (rc > 0 && peek[0] != '{') {
          rc = r.ReadWord(name, sizeof name, std::strchr(peek, '{') ? "{" : nullptr, false);
          if (rc < 0) return Fail(X_MSG_LONG);
        }
      }
      // 5: the object
      obj = XFileAddObject(list, type, name, parent);
      if (!obj) return WriteLogFmt(TEXT_X_OBJECT_ADD, name, word);
      if (!firstNew) firstNew = obj;
      // 6: nesting
      if (depth == kMaxDepth) {
        WriteLogFmt(TEXT_X_NEST_LIMIT, kMaxDepth);
        return WriteLogFmt(TEXT_X_NEST_DEEP, name, word);
      }
      stack[depth++] = obj;
      // 7: past the opening brace
      if (r.binary) {
        uint16_t id;
        while (r.PeekId(&id) && id != TOK_OBRACE && id != TOK_CBRACE && r.Step()) {
        }
        if (!r.PeekId(&id)) return RanOffTheEnd();
        if (id != TOK_OBRACE) return Fail(X_MSG_NO_BRACE);
        r.Step();
      } else {
        if (!r.SkipTo(CC_BRACES)) return RanOffTheEnd();
        if (r.data[r.pos] != '{') return Fail(X_MSG_NO_BRACE);
        ++r.pos;
      }
      // 8: the template's data
      if (ReadTemplateData() < 0) return WriteLogFmt(TEXT_X_PARSE_ERROR, name, word);
      r.intLeft = 0;
    }
    if (depth != 1) return WriteLog(TEXT_X_UNEXPECTED_EOF "\n");
    return ResolveReferences(firstNew);
  }
};

}  // namespace

void* XFileChunkAlloc(XFileObjectList* list, size_t size) { return ChunkListAlloc(size, &list->chunkHead); }

XFileObject* XFileAddObject(XFileObjectList* list, int type, const char* name, XFileObject* parent) {
  size_t len = std::strlen(name);
  auto* o = static_cast<XFileObject*>(MEM_CALLOC(sizeof(XFileObject) + len + 1));
  if (!o) {
    WriteLog(TEXT_X_OBJECT_ALLOC);
    return nullptr;
  }
  o->type = type;
  o->name = reinterpret_cast<char*>(o + 1);
  std::memcpy(o->name, name, len + 1);
  o->parent = parent;
  if (parent) {
    if (parent->lastChild) parent->lastChild->nextSibling = o;
    else parent->firstChild = o;
    parent->lastChild = o;
  }
  if (list->last) list->last->next = o;
  else list->first = o;
  list->last = o;
  list->nameDataSize += static_cast<uint32_t>((len + 1 + 3) & ~static_cast<size_t>(3));
  ++list->objectCount;
  return o;
}

XFileObject* XFileFindChild(const XFileObject* obj, int type) {
  for (XFileObject* c = obj->firstChild; c; c = c->nextSibling)
    if (c->type == type) return c;
  for (uint32_t i = 0; i < obj->refCount; ++i)
    if (obj->refs[i] && obj->refs[i]->type == type) return obj->refs[i];
  return nullptr;
}

void FreeXFileObjectList(XFileObjectList* list) {
  ChunkListFreeAll(&list->chunkHead);
  for (XFileObject* o = list->first; o;) {
    XFileObject* n = o->next;
    MEM_FREE(o);
    o = n;
  }
  std::memset(list, 0, sizeof *list);
}

int ParseXFile(const void* image, size_t size, XFileObjectList* list) {
  const auto* p = static_cast<const uint8_t*>(image);
  if (size < 4 || std::memcmp(p, "xof ", 4) != 0) return -1;
  if (size < 16) return WriteLog(X_MSG_HEADER);
  // every count below is checked against the bytes left, in 32 bits
  if (size - 16 > 0xFFFFFFF0u) return WriteLog(X_MSG_COUNT);
  bool text = std::memcmp(p + 8, "txt ", 4) == 0;
  if (!text && std::memcmp(p + 8, "bin ", 4) != 0) return WriteLog(TEXT_X_FORMAT_UNSUPPORTED "\n");
  Parser ps{};
  ps.list = list;
  ps.r.data = p + 16;
  ps.r.size = size - 16;
  ps.r.binary = !text;
  ps.r.float64 = std::memcmp(p + 12, "0064", 4) == 0;
  return ps.Run();
}
