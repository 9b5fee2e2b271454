// JPEG through libjpeg (format id 3), and the reader of a JPEG's marker sections and its EXIF
// block, which gives the camera data, the resolution and the embedded thumbnail.
//
// A JPEG of a few hundred bytes can declare a picture of 65500 x 65500, or thousands of
// progressive scans, so the decoder weighs the file before libjpeg does the work: libjpeg's own
// memory is capped at the pixel-block bound, and the output size (and, for a progressive
// file, the coefficient buffer libjpeg must hold whole) is checked right after the header,
// before libjpeg allocates for the picture. Its progress monitor stops a decode when the
// escape flag is raised and after 100 scans.
//
// libjpeg reports errors by a long jump, so the functions that call it hold no C++ object with
// a destructor on those frames. Rows go to and from libjpeg in the image's own blue-green-red
// order, so no row is copied to change its order.
#pragma once

#include <cstdint>

#include "image/PxImage.h"

class PxImageJPG : public PxImage {
public:
    // Splits a JPEG stream into its marker sections and reads the EXIF block and the comment
    // into a record. Its own messages stay in its own last-error text.
    //
    // The EXIF block is the camera's bytes: every offset and count is checked against the
    // block before it is followed, and the directory walk is bounded (a loop of directories
    // pointing at each other ends). The record holds numbers and texts only; the thumbnail's
    // bytes stay with the reader, so a record can be copied and kept without a dangling pointer.
    class ExifReader {
    public:
        // Reads into the record given (not owned), or into a zeroed one of its own.
        explicit ExifReader(JpegExifInfo* info = nullptr);
        ~ExifReader();
        ExifReader(const ExifReader&) = delete;
        ExifReader& operator=(const ExifReader&) = delete;

        // mode bit 1: read EXIF and comment; bit 2: also keep the image data after the scan start.
        bool ReadSections(PxFile* stream, int mode);
        // body: the APP1 segment without its length bytes.
        bool ProcessExif(const uint8_t* body, uint32_t length);
        double ConvertValue(const uint8_t* value, int format) const;
        uint16_t Get16(const uint8_t* p) const;
        int32_t Get32(const uint8_t* p) const;
        // Keeps the first EXIF (APP1) and the first comment section, in that order.
        void KeepOnlyExif();
        struct Section {
            uint8_t* data;
            int32_t type;
            int32_t size;
        };
        Section* FindSection(int type);
        bool WriteSections(PxFile* stream);

        JpegExifInfo* Info() const { return m_info; }
        int32_t SectionCount() const { return m_count; }
        const Section& SectionAt(int32_t i) const { return m_sections[i]; }
        // The thumbnail's bytes inside the EXIF section this reader holds; null when none.
        const uint8_t* Thumbnail() const { return m_thumbnail; }
        const char* GetLastError() const { return m_lastError; }

    private:
        bool ProcessDirectory(const uint8_t* directory, const uint8_t* base, uint32_t length, int nesting);
        void SetError(const char* text);
        void Drop(int32_t index);

        JpegExifInfo* m_info;
        bool m_ownsInfo;
        char m_lastError[256];
        Section m_sections[20];
        int32_t m_exifImageWidth;
        bool m_motorola;
        int32_t m_count;
        const uint8_t* m_thumbnail;
        int32_t m_directoriesSeen;
    };

    PxImageJPG();
    ~PxImageJPG() override;

    bool Decode(PxFile* stream);
    bool Encode(PxFile* stream);
    bool DecodeExif(PxFile* stream);
    bool ExtractThumbnail(const char* sourcePath, const char* destinationPath);
    ExifReader* Exif() const { return m_exif; }

private:
    ExifReader* m_exif;
    int32_t m_smoothing;
    int32_t m_dither;
};
