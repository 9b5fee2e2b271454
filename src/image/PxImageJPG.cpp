// JPEG through libjpeg. libjpeg reports fatal errors by a long jump back into the codec, so the
// functions that call it hold no C++ object with a destructor, and every way out of them
// destroys the libjpeg object.
#include "image/PxImageJPG.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace {

constexpr size_t kBufferSize = 4096;

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char* text;
};

void ErrorExit(j_common_ptr cinfo)
{
    ErrorManager* e = reinterpret_cast<ErrorManager*>(cinfo->err);
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    strncpy(e->text, message, 255);
    e->text[255] = '\0';
    longjmp(e->jump, 1);
}

// Jumps out of libjpeg with a message of our own.
[[noreturn]] void FailWith(j_common_ptr cinfo, const char* message)
{
    ErrorManager* e = reinterpret_cast<ErrorManager*>(cinfo->err);
    strncpy(e->text, message, 255);
    e->text[255] = '\0';
    longjmp(e->jump, 1);
}

// Each scan of a progressive file goes over every block of the picture again: a small file of
// thousands of scans would keep a decode busy for minutes. Real encoders write about ten.
constexpr int kMaxScans = 100;

// Called by libjpeg while it reads the scans (at every row of blocks) and while it writes rows
// out: where a long decode learns of the escape flag and of too many scans.
struct Progress {
    jpeg_progress_mgr pub;
    const PxImage* image;
};

void MonitorProgress(j_common_ptr common)
{
    const Progress* p = reinterpret_cast<const Progress*>(common->progress);
    if (p->image->GetEscape() > 0)
        FailWith(common, "Cancelled");
    if (!common->is_decompressor)
        return;
    if (reinterpret_cast<j_decompress_ptr>(common)->input_scan_number > kMaxScans)
        FailWith(common, "JPEG has too many scans");
}

// The bytes libjpeg keeps for a picture that it must hold whole before any row comes out (a
// progressive or multi-scan file): every coefficient of every component.
uint64_t CoefficientBytes(const jpeg_decompress_struct& cinfo)
{
    uint64_t bytes = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        const uint64_t h = comp.h_samp_factor > 0 ? uint64_t(comp.h_samp_factor) : 1;
        const uint64_t v = comp.v_samp_factor > 0 ? uint64_t(comp.v_samp_factor) : 1;
        const uint64_t wide = (uint64_t(comp.width_in_blocks) + h - 1) / h * h;
        const uint64_t high = (uint64_t(comp.height_in_blocks) + v - 1) / v * v;
        bytes += wide * high * DCTSIZE2 * sizeof(JCOEF);
    }
    return bytes;
}

// A library does not print: warnings (a cut file, say) are counted by libjpeg and dropped.
void OutputMessage(j_common_ptr) {}

// One record serves libjpeg as the source and as the destination over a PxFile.
struct StreamBridge {
    jpeg_destination_mgr destination;
    jpeg_source_mgr source;
    PxFile* file;
    JOCTET* buffer;
    bool startOfFile;
};

StreamBridge* BridgeOf(j_compress_ptr cinfo)
{
    return reinterpret_cast<StreamBridge*>(cinfo->dest);
}

StreamBridge* BridgeOf(j_decompress_ptr cinfo)
{
    return reinterpret_cast<StreamBridge*>(reinterpret_cast<char*>(cinfo->src) - offsetof(StreamBridge, source));
}

void InitDestination(j_compress_ptr cinfo)
{
    StreamBridge* b = BridgeOf(cinfo);
    b->destination.next_output_byte = b->buffer;
    b->destination.free_in_buffer = kBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    StreamBridge* b = BridgeOf(cinfo);
    if (b->file->Write(b->buffer, 1, kBufferSize) != kBufferSize)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    b->destination.next_output_byte = b->buffer;
    b->destination.free_in_buffer = kBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    StreamBridge* b = BridgeOf(cinfo);
    const size_t left = kBufferSize - b->destination.free_in_buffer;
    if (left > 0 && b->file->Write(b->buffer, 1, left) != left)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    b->file->Flush();
    if (b->file->Error())
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

void InitSource(j_decompress_ptr cinfo)
{
    BridgeOf(cinfo)->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    StreamBridge* b = BridgeOf(cinfo);
    size_t n = b->file->Read(b->buffer, 1, kBufferSize);
    if (n == 0) {
        if (b->startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        // An end-of-image marker, so that a cut file ends with the rows it holds.
        b->buffer[0] = 0xFF;
        b->buffer[1] = JPEG_EOI;
        n = 2;
    }
    b->source.next_input_byte = b->buffer;
    b->source.bytes_in_buffer = n;
    b->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    StreamBridge* b = BridgeOf(cinfo);
    while (count > long(b->source.bytes_in_buffer)) {
        count -= long(b->source.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    b->source.next_input_byte += count;
    b->source.bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

// libjpeg's standard error manager, its fatal errors written into text and sent back by a
// long jump, its warnings dropped; the bridge starts over the stream.
void SetUpErrors(jpeg_error_mgr*& err, ErrorManager& error, StreamBridge& bridge, PxFile* stream, char* text)
{
    memset(&bridge, 0, sizeof bridge);
    bridge.file = stream;
    err = jpeg_std_error(&error.pub);
    error.pub.error_exit = ErrorExit;
    error.pub.output_message = OutputMessage;
    error.text = text;
}

int32_t ClampDpi(double dpi)
{
    if (!(dpi > 0))
        return 0;
    return dpi >= 2147483647.0 ? INT32_MAX : int32_t(dpi);
}

} // namespace

PxImageJPG::PxImageJPG() : PxImage(PXIMAGE_FORMAT_JPG), m_exif(nullptr), m_smoothing(0), m_dither(0)
{
    memset(&m_info.exif, 0, sizeof m_info.exif);
}

PxImageJPG::~PxImageJPG()
{
    delete m_exif;
}

bool PxImageJPG::DecodeExif(PxFile* stream)
{
    if (!stream)
        return false;
    delete m_exif;
    m_exif = new ExifReader(&m_info.exif);
    const int32_t position = stream->Tell();
    m_exif->ReadSections(stream, 1);
    stream->Seek(position, 0);
    return m_info.exif.isExif;
}

bool PxImageJPG::Decode(PxFile* stream)
{
    if (!stream)
        return false;
    // Settings copied in from the caller may carry an earlier picture's camera data.
    memset(&m_info.exif, 0, sizeof m_info.exif);
    const bool exif = DecodeExif(stream);

    const uint32_t option = GetCodecOption(PXIMAGE_FORMAT_JPG);
    jpeg_decompress_struct cinfo;
    ErrorManager error;
    StreamBridge bridge;
    SetUpErrors(cinfo.err, error, bridge, stream, m_info.lastError);
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    // libjpeg's own buffers stay under the bound of our pixel blocks; what would take more
    // fails with its out-of-memory message instead of taking it.
    cinfo.mem->max_memory_to_use = long(PXIMAGE_MAX_MEMORY);
    Progress progress;
    progress.pub.progress_monitor = MonitorProgress;
    progress.image = this;
    cinfo.progress = &progress.pub;
    bridge.buffer = static_cast<JOCTET*>(
        (*cinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_PERMANENT, kBufferSize));
    bridge.source.init_source = InitSource;
    bridge.source.fill_input_buffer = FillInputBuffer;
    bridge.source.skip_input_data = SkipInputData;
    bridge.source.resync_to_restart = jpeg_resync_to_restart;
    bridge.source.term_source = TermSource;
    cinfo.src = &bridge.source;
    jpeg_read_header(&cinfo, TRUE);

    if (option & 0x80)
        cinfo.out_color_space = JCS_GRAYSCALE;
    if (option & 0x100) {
        cinfo.quantize_colors = TRUE;
        int colours = GetQuality();
        cinfo.desired_number_of_colors = colours < 8 ? 8 : colours > 256 ? 256 : colours;
    }
    if (option & 0x200)
        cinfo.dither_mode = J_DITHER_MODE(m_dither);
    if (option & 0x400)
        cinfo.two_pass_quantize = FALSE;
    if (option & 0x800)
        cinfo.do_fancy_upsampling = FALSE;
    cinfo.scale_num = 1;
    cinfo.scale_denom = GetJpegScale() ? GetJpegScale() : 1;
    // Three-component pictures come straight out in the blue-green-red order of the rows.
    const bool direct = !cinfo.quantize_colors && cinfo.out_color_space == JCS_RGB;
    if (direct)
        cinfo.out_color_space = JCS_EXT_BGR;

    if (GetEscape() == -1) {
        jpeg_calc_output_dimensions(&cinfo);
        m_head.width = int32_t(cinfo.output_width);
        m_head.height = int32_t(cinfo.output_height);
        m_info.type = PXIMAGE_FORMAT_JPG;
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    // The sizes are known now, before libjpeg allocates anything for the picture: a tiny file
    // may declare 65500 x 65500.
    jpeg_calc_output_dimensions(&cinfo);
    if (!FitsMemory(int32_t(cinfo.output_width), int32_t(cinfo.output_height), uint32_t(cinfo.output_components) * 8) ||
        (cinfo.progressive_mode && CoefficientBytes(cinfo) > uint64_t(PXIMAGE_MAX_MEMORY))) {
        SetLastError("PXIMAGE_MAX_MEMORY exceeded");
        longjmp(error.jump, 1);
    }
    jpeg_start_decompress(&cinfo);
    if (!Create(int32_t(cinfo.output_width), int32_t(cinfo.output_height), uint32_t(cinfo.output_components) * 8,
                PXIMAGE_FORMAT_JPG))
        longjmp(error.jump, 1);

    if (exif) {
        const JpegExifInfo& e = m_info.exif;
        if (e.xResolution != 0 && e.resolutionUnit != 0)
            SetXDpi(ClampDpi(double(e.xResolution) / e.resolutionUnit));
        if (e.yResolution != 0 && e.resolutionUnit != 0)
            SetYDpi(ClampDpi(double(e.yResolution) / e.resolutionUnit));
    } else if (cinfo.saw_JFIF_marker || cinfo.density_unit) {
        if (cinfo.density_unit == 2) {
            SetXDpi(ClampDpi(double(cinfo.X_density) * 2.54 + 0.5));
            SetYDpi(ClampDpi(double(cinfo.Y_density) * 2.54 + 0.5));
        } else if (cinfo.density_unit != 0) {
            SetXDpi(cinfo.X_density);
            SetYDpi(cinfo.Y_density);
        } else if (cinfo.X_density && cinfo.Y_density) {
            SetYDpi(ClampDpi(double(cinfo.Y_density) / cinfo.X_density * GetXDpi()));
        }
    }
    if (cinfo.out_color_space == JCS_GRAYSCALE && !cinfo.quantize_colors) {
        SetGrayPalette();
    } else if (cinfo.quantize_colors && cinfo.colormap) {
        const int n = cinfo.actual_number_of_colors;
        if (cinfo.out_color_components >= 3)
            SetPalette(uint32_t(n), cinfo.colormap[0], cinfo.colormap[1], cinfo.colormap[2]);
        else
            SetPalette(uint32_t(n), cinfo.colormap[0]);
    }

    const int components = cinfo.output_components;
    const uint32_t width = cinfo.output_width, height = cinfo.output_height;
    JSAMPARRAY buffer = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                   width * uint32_t(components), 1);
    while (cinfo.output_scanline < height) {
        if (GetEscape()) {
            SetLastError("Cancelled");
            longjmp(error.jump, 1);
        }
        uint8_t* row = GetRow(int32_t(height - 1 - cinfo.output_scanline));
        if (components == 4) {
            jpeg_read_scanlines(&cinfo, buffer, 1);
            const uint8_t* in = buffer[0];
            for (uint32_t x = 0; x < width && 3 * x + 2 < GetRowSize(); ++x, in += 4) {
                row[3 * x] = uint8_t(in[2] * in[3] / 255);
                row[3 * x + 1] = uint8_t(in[1] * in[3] / 255);
                row[3 * x + 2] = uint8_t(in[0] * in[3] / 255);
            }
        } else {
            // The image's own rows are wide enough for the output: no copy in between.
            JSAMPROW target = row;
            jpeg_read_scanlines(&cinfo, &target, 1);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool PxImageJPG::Encode(PxFile* stream)
{
    if (EncodeSafeCheck(stream))
        return false;
    const bool gray = IsGrayScale();
    if (GetNumColors() && !gray) {
        SetLastError("JPEG can save only RGB or GreyScale images");
        return false;
    }
    const int32_t position = stream->Tell();
    const uint32_t option = GetCodecOption(PXIMAGE_FORMAT_JPG);
    const uint32_t width = uint32_t(GetWidth()), height = uint32_t(GetHeight());
    const uint32_t bpp = GetBpp();
    uint8_t quality = GetQuality();
    if (quality > 100)
        quality = 100;

    jpeg_compress_struct cinfo;
    ErrorManager error;
    StreamBridge bridge;
    SetUpErrors(cinfo.err, error, bridge, stream, m_info.lastError);
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    bridge.buffer = static_cast<JOCTET*>(
        (*cinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_PERMANENT, kBufferSize));
    bridge.destination.init_destination = InitDestination;
    bridge.destination.empty_output_buffer = EmptyOutputBuffer;
    bridge.destination.term_destination = TermDestination;
    cinfo.dest = &bridge.destination;
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = gray ? 1 : 3;
    cinfo.in_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    if (option & 0x2)
        cinfo.arith_code = TRUE;
    if (option & 0x4)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    if (option & 0x8)
        cinfo.optimize_coding = TRUE;
    if (option & 0x10)
        jpeg_simple_progression(&cinfo);
    if (option & 0x40)
        cinfo.smoothing_factor = m_smoothing < 0 ? 0 : m_smoothing > 100 ? 100 : m_smoothing;
    jpeg_set_quality(&cinfo, quality, (option & 0x1) ? TRUE : FALSE);
    if (cinfo.num_components >= 3) {
        cinfo.comp_info[0].h_samp_factor = 2;
        cinfo.comp_info[0].v_samp_factor = 2;
        if (option & 0x1000)
            cinfo.comp_info[0].v_samp_factor = 1;
        if (option & 0x2000)
            cinfo.comp_info[0].h_samp_factor = 1, cinfo.comp_info[0].v_samp_factor = 1;
        for (int c = 1; c < 3; ++c)
            cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    cinfo.density_unit = 1;
    cinfo.X_density = UINT16(GetXDpi() > 65535 ? 65535 : GetXDpi());
    cinfo.Y_density = UINT16(GetYDpi() > 65535 ? 65535 : GetYDpi());
    jpeg_start_compress(&cinfo, TRUE);
    // Grey pictures below 8 bits are widened pixel by pixel; others are fed as their rows stand.
    JSAMPARRAY wide =
        bpp < 8 ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, width, 1) : nullptr;
    while (cinfo.next_scanline < height) {
        const int32_t y = int32_t(height - 1 - cinfo.next_scanline);
        JSAMPROW row = GetRow(y);
        if (wide) {
            for (uint32_t x = 0; x < width; ++x)
                wide[0][x] = GetPaletteColor(GetPixelIndexUnchecked(int32_t(x), y)).blue;
            row = wide[0];
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);

    // An object that decoded a JPEG with EXIF and writes it again puts the EXIF block back.
    if (m_exif && m_info.exif.isExif) {
        m_exif->KeepOnlyExif();
        if (!stream->Seek(position, 0) || !m_exif->ReadSections(stream, 2) || !stream->Seek(position, 0) ||
            !m_exif->WriteSections(stream)) {
            SetLastError("JPEG: the EXIF block could not be written back");
            return false;
        }
    }
    return true;
}

bool PxImageJPG::ExtractThumbnail(const char* sourcePath, const char* destinationPath)
{
    if (!sourcePath || !destinationPath)
        return false;
    FILE* file = fopen(sourcePath, "rb");
    if (!file)
        return false;
    bool ok = false;
    {
        PxIOFile stream(file);
        ExifReader reader(&m_info.exif);
        reader.ReadSections(&stream, 1);
        if (m_info.exif.isExif && m_info.exif.thumbnailSize > 0 && reader.Thumbnail()) {
            PxImage thumbnail(reader.Thumbnail(), uint32_t(m_info.exif.thumbnailSize), PXIMAGE_FORMAT_JPG);
            if (thumbnail.IsValid()) {
                if (m_info.exif.orientation != 1)
                    thumbnail.ApplyOrientation(m_info.exif.orientation);
                ok = thumbnail.Save(destinationPath, PXIMAGE_FORMAT_JPG);
                if (!ok)
                    SetLastError(thumbnail.GetLastError());
            }
        }
    }
    fclose(file);
    return ok;
}
