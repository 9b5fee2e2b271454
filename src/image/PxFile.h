// The byte streams every codec reads and writes through: one over a stdio stream, one over
// a growable memory buffer (the contact sheet travels through the latter both ways).
#pragma once

#include <cstdint>
#include <cstdio>

class PxFile {
public:
    virtual ~PxFile() = default;

    virtual bool Close() = 0;
    virtual size_t Read(void* destination, size_t itemSize, size_t count) = 0;
    virtual size_t Write(const void* source, size_t itemSize, size_t count) = 0;
    // origin: 0 start, 1 current position, 2 end
    virtual bool Seek(int32_t offset, int origin) = 0;
    virtual int32_t Tell() = 0;
    virtual int32_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual int32_t Error() = 0;
    virtual bool PutC(uint8_t byte) = 0;
    virtual int32_t GetC() = 0;
    virtual char* GetS(char* buffer, int32_t length) = 0;
    virtual int32_t Scanf(const char* format, void* destination) = 0;
};

// Closes the stream through its own Close.
inline bool PxCloseFile(PxFile* file)
{
    return file ? file->Close() : false;
}

// Over a stdio stream. A stream handed in by the caller stays open when the wrapper goes; one
// opened into a wrapper built without a stream is closed by it.
class PxIOFile : public PxFile {
public:
    explicit PxIOFile(FILE* stream = nullptr);
    ~PxIOFile() override;

    // Opens a path into a wrapper built without a stream; false when one is held already.
    bool Open(const char* path, const char* mode);
    FILE* Stream() const { return m_stream; }

    bool Close() override;
    size_t Read(void* destination, size_t itemSize, size_t count) override;
    size_t Write(const void* source, size_t itemSize, size_t count) override;
    bool Seek(int32_t offset, int origin) override;
    int32_t Tell() override;
    int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    int32_t Error() override;
    bool PutC(uint8_t byte) override;
    int32_t GetC() override;
    char* GetS(char* buffer, int32_t length) override;
    int32_t Scanf(const char* format, void* destination) override;

private:
    FILE* m_stream;
    bool m_closeOnDestroy;
};

// Over memory. Built over a caller's buffer it reads that buffer in place and moves to a
// buffer of its own on the first write past the end.
class PxMemFile : public PxFile {
public:
    // A write after a seek past the end leaves a gap that reads as zeros, as in a file, so a
    // codec that writes a header last never leaves old heap bytes in the output.
    explicit PxMemFile(uint8_t* buffer = nullptr, int32_t size = 0);
    ~PxMemFile() override;
    PxMemFile(const PxMemFile&) = delete;
    PxMemFile& operator=(const PxMemFile&) = delete;

    // Starts an empty owned buffer; false when a buffer is held already.
    bool Open();
    // With detach the stream stops owning the buffer: the caller frees it with free().
    uint8_t* GetBuffer(bool detach = true);
    // Makes room for at least the given number of bytes.
    bool Alloc(int64_t bytes);
    int32_t Capacity() const { return m_capacity; }

    bool Close() override;
    size_t Read(void* destination, size_t itemSize, size_t count) override;
    size_t Write(const void* source, size_t itemSize, size_t count) override;
    bool Seek(int32_t offset, int origin) override;
    int32_t Tell() override;
    int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    int32_t Error() override;
    bool PutC(uint8_t byte) override;
    int32_t GetC() override;
    char* GetS(char* buffer, int32_t length) override;
    int32_t Scanf(const char* format, void* destination) override;

private:
    bool Grow(int64_t needed);
    void ZeroGap();

    uint8_t* m_buffer;
    int32_t m_size;
    bool m_owns;
    int32_t m_position;
    int32_t m_capacity;
    bool m_eof;
};
