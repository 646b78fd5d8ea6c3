// JPEG reading and writing through libjpeg. Its errors return by a long jump into the function
// that armed the handler; those functions hold no C++ objects with destructors and keep what
// they allocate in a context record that the caller frees after the jump.
#include <cstdio>
#include <csetjmp>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/base/engine_texts.h>

namespace {

constexpr const char* kKind = "JPEG";
// The decoder's own work memory (progressive coefficient buffers) stays below this.
constexpr long kJpegWorkMemory = 1L << 30;

struct JpegErrorManager {
  jpeg_error_mgr Pub;
  jmp_buf Jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
  JpegErrorManager* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  longjmp(err->Jump, 1);
}
void JpegOutputMessage(j_common_ptr) {}

// A bounded memory source; running out of data marks the file truncated and feeds an end marker.
struct JpegSource {
  jpeg_source_mgr Pub;
  bool Truncated;
};

// Warnings: the library pads a Huffman scan whose coded data stops early (at a marker or at the
// end of the file) and carries on; that image is incomplete, and is refused like a truncated
// file. A stop at a restart marker is damage inside one interval, not a short file: the library
// resynchronises there and decodes every later interval, so the image is accepted (that band
// comes out wrong, as in any viewer). What it recovers from whole (extraneous bytes, a restart
// marker out of step) is accepted too. (An arithmetic-coded scan may lawfully stop at a marker;
// the library does not warn there.)
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  int code = cinfo->err->msg_code;
  if (code == JWRN_HIT_MARKER || code == JWRN_JPEG_EOF) {
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    // The marker that stopped the scan is held unread when the library warns.
    const bool atRestart = code == JWRN_HIT_MARKER && d->unread_marker >= JPEG_RST0 &&
                           d->unread_marker <= JPEG_RST0 + 7;
    if (!atRestart) reinterpret_cast<JpegSource*>(d->src)->Truncated = true;
  }
  cinfo->err->num_warnings++;
}

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void JpegInitSource(j_decompress_ptr) {}
boolean JpegFillInput(j_decompress_ptr cinfo) {
  JpegSource* src = reinterpret_cast<JpegSource*>(cinfo->src);
  src->Truncated = true;
  src->Pub.next_input_byte = kFakeEoi;
  src->Pub.bytes_in_buffer = 2;
  return TRUE;
}
void JpegSkipInput(j_decompress_ptr cinfo, long n) {
  JpegSource* src = reinterpret_cast<JpegSource*>(cinfo->src);
  if (n <= 0) return;
  if (static_cast<size_t>(n) > src->Pub.bytes_in_buffer) {
    JpegFillInput(cinfo);
    return;
  }
  src->Pub.next_input_byte += n;
  src->Pub.bytes_in_buffer -= static_cast<size_t>(n);
}
void JpegTermSource(j_decompress_ptr) {}
// At a restart point the scan has intervals still to come. When the library's search from an
// unexpected marker stops against one that is not a restart marker (the end of the image, the
// next scan), the scan's coded data ended early and the rest is padding: a truncated file.
boolean JpegResyncToRestart(j_decompress_ptr cinfo, int desired) {
  const boolean result = jpeg_resync_to_restart(cinfo, desired);
  const int m = cinfo->unread_marker;
  if (m != 0 && (m < JPEG_RST0 || m > JPEG_RST0 + 7))
    reinterpret_cast<JpegSource*>(cinfo->src)->Truncated = true;
  return result;
}

struct JpegReadState {
  jpeg_decompress_struct Info;
  JpegErrorManager Err;
  JpegSource Source;
  bool Created;
  uint8_t* Row;  // CMYK work row
  BASEIMAGE* Image;
  const char* Reason;
};

int DecodeJpeg(JpegReadState* st, const uint8_t* data, size_t size) {
  if (setjmp(st->Err.Jump)) return -1;
  j_decompress_ptr cinfo = &st->Info;
  jpeg_create_decompress(cinfo);
  st->Created = true;
  cinfo->mem->max_memory_to_use = kJpegWorkMemory;
  if (ImageMemoryLimit() != 0 && ImageMemoryLimit() < static_cast<uint64_t>(kJpegWorkMemory))
    cinfo->mem->max_memory_to_use = static_cast<long>(ImageMemoryLimit());
  st->Source.Pub.init_source = JpegInitSource;
  st->Source.Pub.fill_input_buffer = JpegFillInput;
  st->Source.Pub.skip_input_data = JpegSkipInput;
  st->Source.Pub.resync_to_restart = JpegResyncToRestart;
  st->Source.Pub.term_source = JpegTermSource;
  st->Source.Pub.next_input_byte = data;
  st->Source.Pub.bytes_in_buffer = size;
  cinfo->src = &st->Source.Pub;
  jpeg_read_header(cinfo, TRUE);
  if (cinfo->image_width == 0 || cinfo->image_height == 0 || cinfo->image_width > kMaxImageSide ||
      cinfo->image_height > kMaxImageSide) {
    st->Reason = TEXT_IMAGE_REASON_SIZE;
    return -1;
  }
  // Huffman-coded data spends at least one bit on each 8x8 block of each component in a
  // progressive file's first DC scan, and two (a DC difference and an end of block) in a
  // sequential one: a file shorter than that cannot hold the image. (Arithmetic coding can code
  // a flat image in almost nothing; there the rows themselves show a short file.)
  if (!cinfo->arith_code) {
    uint64_t blocks = 0;
    for (int c = 0; c < cinfo->num_components; ++c)
      blocks += static_cast<uint64_t>(cinfo->comp_info[c].width_in_blocks) *
                cinfo->comp_info[c].height_in_blocks;
    if (blocks * (cinfo->progressive_mode ? 1 : 2) > static_cast<uint64_t>(size) * 8) {
      st->Reason = TEXT_IMAGE_REASON_TRUNCATED;
      return -1;
    }
  }
  PIXELFORMAT format;
  bool cmyk = false;
  switch (cinfo->num_components) {
    case 1:
      cinfo->out_color_space = JCS_GRAYSCALE;
      MakeGreyPaletteFormat(&format);
      break;
    case 3:
      cinfo->out_color_space = JCS_EXT_BGR;
      MakeBgr24Format(&format);
      break;
    case 4:
      cinfo->out_color_space = JCS_CMYK;
      MakeBgr24Format(&format);
      cmyk = true;
      break;
    default:
      st->Reason = TEXT_IMAGE_REASON_FORMAT;
      return -1;
  }
  jpeg_start_decompress(cinfo);
  if (st->Source.Truncated) {  // a progressive file's scans are all read by now
    st->Reason = TEXT_IMAGE_REASON_TRUNCATED;
    return -1;
  }
  const int width = static_cast<int>(cinfo->output_width), height = static_cast<int>(cinfo->output_height);
  if (AllocBaseImagePixels(st->Image, width, height, &format) != 0) {
    st->Reason = TEXT_IMAGE_REASON_MEMORY;
    return -1;
  }
  if (cmyk) {
    st->Row = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(width) * 4));
    if (st->Row == nullptr) {
      st->Reason = TEXT_IMAGE_REASON_MEMORY;
      return -1;
    }
  }
  // Adobe files store CMYK inverted; others plainly.
  const bool inverted = cinfo->saw_Adobe_marker != 0;
  uint8_t* pixels = static_cast<uint8_t*>(st->Image->GraphData);
  while (cinfo->output_scanline < cinfo->output_height) {
    uint8_t* d = pixels + static_cast<size_t>(cinfo->output_scanline) * st->Image->Pitch;
    JSAMPROW row = cmyk ? st->Row : d;
    jpeg_read_scanlines(cinfo, &row, 1);
    // Rows past the end of the coded data would be padding: stop at the first.
    if (st->Source.Truncated) {
      st->Reason = TEXT_IMAGE_REASON_TRUNCATED;
      return -1;
    }
    if (cmyk) {
      for (int x = 0; x < width; ++x) {
        uint32_t c = st->Row[4 * x], m = st->Row[4 * x + 1], y = st->Row[4 * x + 2], k = st->Row[4 * x + 3];
        if (!inverted) {
          c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k;
        }
        d[3 * x + 0] = static_cast<uint8_t>((y * k + 127) / 255);
        d[3 * x + 1] = static_cast<uint8_t>((m * k + 127) / 255);
        d[3 * x + 2] = static_cast<uint8_t>((c * k + 127) / 255);
      }
    }
  }
  jpeg_finish_decompress(cinfo);
  if (st->Source.Truncated) {
    st->Reason = TEXT_IMAGE_REASON_TRUNCATED;
    return -1;
  }
  return 0;
}

struct JpegWriteState {
  jpeg_compress_struct Info;
  JpegErrorManager Err;
  bool Created;
  FILE* File;
  uint8_t* Row;
};

int EncodeJpeg(JpegWriteState* st, const BASEIMAGE* image, int quality) {
  if (setjmp(st->Err.Jump)) return -1;
  j_compress_ptr cinfo = &st->Info;
  jpeg_create_compress(cinfo);
  st->Created = true;
  jpeg_stdio_dest(cinfo, st->File);
  cinfo->image_width = static_cast<JDIMENSION>(image->Width);
  cinfo->image_height = static_cast<JDIMENSION>(image->Height);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality < 0 ? 0 : (quality > 100 ? 100 : quality), TRUE);
  jpeg_start_compress(cinfo, TRUE);
  for (int y = 0; y < image->Height; ++y) {
    if (ConvertRowForWriter(image, y, false, st->Row) != 0) return -1;
    JSAMPROW row = st->Row;
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return 0;
}

}  // namespace

int ReadJpegImage(const uint8_t* data, size_t size, BASEIMAGE* image) {
  if (size < 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return 1;
  std::memset(image, 0, sizeof(*image));
  JpegReadState* st = static_cast<JpegReadState*>(MEM_CALLOC(sizeof(JpegReadState)));
  if (st == nullptr) return LogImageReadError(kKind, TEXT_IMAGE_REASON_MEMORY);
  st->Image = image;
  st->Reason = TEXT_IMAGE_REASON_DATA;
  st->Info.err = jpeg_std_error(&st->Err.Pub);
  st->Err.Pub.error_exit = JpegErrorExit;
  st->Err.Pub.output_message = JpegOutputMessage;
  st->Err.Pub.emit_message = JpegEmitMessage;
  int result = DecodeJpeg(st, data, size);
  if (st->Created) jpeg_destroy_decompress(&st->Info);
  MEM_FREE(st->Row);
  const char* reason = st->Reason;
  MEM_FREE(st);
  if (result != 0) {
    ReleaseBaseImage(image);
    std::memset(image, 0, sizeof(*image));
    return LogImageReadError(kKind, reason);
  }
  return 0;
}

int SaveBaseImageToJpeg(const char* path, const BASEIMAGE* image, int quality) {
  if (path == nullptr || image == nullptr || image->GraphData == nullptr || image->Width <= 0 ||
      image->Height <= 0)
    return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path ? path : "", "SaveBaseImageToJpeg");
  JpegWriteState* st = static_cast<JpegWriteState*>(MEM_CALLOC(sizeof(JpegWriteState)));
  if (st == nullptr) return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path, "SaveBaseImageToJpeg");
  int result = -1;
  st->Row = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(image->Width) * 3));
  if (st->Row != nullptr) st->File = std::fopen(path, "wb");
  if (st->File != nullptr) {
    st->Info.err = jpeg_std_error(&st->Err.Pub);
    st->Err.Pub.error_exit = JpegErrorExit;
    st->Err.Pub.output_message = JpegOutputMessage;
    result = EncodeJpeg(st, image, quality);
  }
  if (st->Created) jpeg_destroy_compress(&st->Info);
  if (st->File != nullptr && std::fclose(st->File) != 0) result = -1;
  MEM_FREE(st->Row);
  MEM_FREE(st);
  if (result != 0) return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path, "SaveBaseImageToJpeg");
  return 0;
}
