#include "image/PxFile.h"

#include <climits>
#include <cstdlib>
#include <cstring>

// ---- PxIOFile ----

PxIOFile::PxIOFile(FILE* stream) : m_stream(stream), m_closeOnDestroy(stream == nullptr) {}

PxIOFile::~PxIOFile()
{
    Close();
}

bool PxIOFile::Open(const char* path, const char* mode)
{
    if (m_stream || !path || !mode)
        return false;
    m_stream = fopen(path, mode);
    return m_stream != nullptr;
}

bool PxIOFile::Close()
{
    if (!m_stream || !m_closeOnDestroy)
        return true;
    const int r = fclose(m_stream);
    m_stream = nullptr;
    return r == 0;
}

size_t PxIOFile::Read(void* destination, size_t itemSize, size_t count)
{
    if (!m_stream || !destination)
        return 0;
    return fread(destination, itemSize, count, m_stream);
}

size_t PxIOFile::Write(const void* source, size_t itemSize, size_t count)
{
    if (!m_stream || !source)
        return 0;
    return fwrite(source, itemSize, count, m_stream);
}

bool PxIOFile::Seek(int32_t offset, int origin)
{
    if (!m_stream)
        return false;
    const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    return fseek(m_stream, offset, whence) == 0;
}

int32_t PxIOFile::Tell()
{
    if (!m_stream)
        return 0;
    const long p = ftell(m_stream);
    return p > INT32_MAX ? INT32_MAX : static_cast<int32_t>(p);
}

int32_t PxIOFile::Size()
{
    if (!m_stream)
        return -1;
    const long here = ftell(m_stream);
    if (here < 0 || fseek(m_stream, 0, SEEK_END) != 0)
        return -1;
    const long end = ftell(m_stream);
    fseek(m_stream, here, SEEK_SET);
    if (end < 0)
        return -1;
    return end > INT32_MAX ? INT32_MAX : static_cast<int32_t>(end);
}

bool PxIOFile::Flush()
{
    return m_stream && fflush(m_stream) == 0;
}

bool PxIOFile::Eof()
{
    return !m_stream || feof(m_stream) != 0;
}

int32_t PxIOFile::Error()
{
    return m_stream ? ferror(m_stream) : -1;
}

bool PxIOFile::PutC(uint8_t byte)
{
    return m_stream && fputc(byte, m_stream) == byte;
}

int32_t PxIOFile::GetC()
{
    if (!m_stream)
        return -1;
    const int c = getc(m_stream);
    return c == EOF ? -1 : c;
}

char* PxIOFile::GetS(char* buffer, int32_t length)
{
    if (!m_stream || !buffer || length <= 0)
        return nullptr;
    return fgets(buffer, length, m_stream);
}

int32_t PxIOFile::Scanf(const char* format, void* destination)
{
    if (!m_stream || !format)
        return -1;
    return fscanf(m_stream, format, destination);
}

// ---- PxMemFile ----

PxMemFile::PxMemFile(uint8_t* buffer, int32_t size)
    : m_buffer(buffer), m_size(buffer && size > 0 ? size : 0), m_owns(buffer == nullptr), m_position(0),
      m_capacity(buffer && size > 0 ? size : 0), m_eof(false)
{
}

PxMemFile::~PxMemFile()
{
    Close();
}

bool PxMemFile::Open()
{
    if (m_buffer)
        return false;
    m_size = m_position = m_capacity = 0;
    m_eof = false;
    m_buffer = static_cast<uint8_t*>(malloc(1));
    m_owns = true;
    return m_buffer != nullptr;
}

uint8_t* PxMemFile::GetBuffer(bool detach)
{
    if (detach)
        m_owns = false;
    return m_buffer;
}

bool PxMemFile::Close()
{
    if (m_buffer && m_owns)
        free(m_buffer);
    m_buffer = nullptr;
    m_size = 0;
    m_position = 0;
    m_capacity = 0;
    return true;
}

// The new capacity is the need plus up to 64 KiB of slack, in whole 64 KiB steps; sizes stay
// within what a 32-bit position can address.
bool PxMemFile::Grow(int64_t needed)
{
    if (needed <= m_capacity)
        return true;
    const int64_t capacity = (needed + 65536) / 65536 * 65536;
    if (needed > INT32_MAX || capacity <= 0)
        return false;
    const int64_t clamped = capacity > INT32_MAX ? INT32_MAX : capacity;
    uint8_t* grown;
    if (m_owns) {
        grown = static_cast<uint8_t*>(realloc(m_buffer, static_cast<size_t>(clamped)));
        if (!grown) {
            free(m_buffer);
            m_buffer = nullptr;
        }
    } else {
        // A caller's buffer is never resized or freed here: the data moves to our own.
        grown = static_cast<uint8_t*>(malloc(static_cast<size_t>(clamped)));
        if (grown && m_buffer && m_size > 0)
            memcpy(grown, m_buffer, static_cast<size_t>(m_size));
        m_buffer = nullptr;
    }
    if (!grown) {
        m_size = m_position = m_capacity = 0;
        return false;
    }
    m_buffer = grown;
    m_owns = true;
    m_capacity = static_cast<int32_t>(clamped);
    return true;
}

bool PxMemFile::Alloc(int64_t bytes)
{
    if (bytes > m_capacity || !m_buffer) {
        if (!m_buffer) {
            m_capacity = 0;
            m_owns = true;
        }
        if (!Grow(bytes > 0 ? bytes : 1))
            return false;
    }
    return m_buffer != nullptr;
}

size_t PxMemFile::Read(void* destination, size_t itemSize, size_t count)
{
    if (!m_buffer || !destination || itemSize == 0)
        return 0;
    if (m_position >= m_size) {
        m_eof = true;
        return 0;
    }
    const size_t left = static_cast<size_t>(m_size - m_position);
    size_t wanted = itemSize * count;
    if (count != 0 && wanted / count != itemSize)
        wanted = SIZE_MAX;
    size_t n = wanted;
    if (n > left) {
        n = left;
        m_eof = true;
    }
    memcpy(destination, m_buffer + m_position, n);
    m_position += static_cast<int32_t>(n);
    return n / itemSize;
}

// A write after a seek past the end leaves a gap that was never written: it reads as zeros,
// not as whatever the heap held there.
void PxMemFile::ZeroGap()
{
    if (m_position > m_size)
        memset(m_buffer + m_size, 0, static_cast<size_t>(m_position - m_size));
}

size_t PxMemFile::Write(const void* source, size_t itemSize, size_t count)
{
    m_eof = false;
    if (!source || !m_buffer)
        return 0;
    const unsigned __int128 wide = static_cast<unsigned __int128>(itemSize) * count;
    if (wide == 0 || wide > INT32_MAX)
        return 0;
    const int64_t length = static_cast<int64_t>(wide);
    const int64_t end = static_cast<int64_t>(m_position) + length;
    if (end > m_capacity && !Grow(end))
        return 0;
    ZeroGap();
    memcpy(m_buffer + m_position, source, static_cast<size_t>(length));
    m_position = static_cast<int32_t>(end);
    if (m_position > m_size)
        m_size = m_position;
    return count;
}

bool PxMemFile::Seek(int32_t offset, int origin)
{
    m_eof = false;
    if (!m_buffer)
        return false;
    int64_t base;
    switch (origin) {
    case 0:
        base = 0;
        break;
    case 1:
        base = m_position;
        break;
    case 2:
        base = m_size;
        break;
    default:
        return false;
    }
    int64_t p = base + offset;
    if (p < 0)
        p = 0;
    if (p > INT32_MAX)
        p = INT32_MAX;
    m_position = static_cast<int32_t>(p);
    return true;
}

int32_t PxMemFile::Tell()
{
    return m_buffer ? m_position : -1;
}

int32_t PxMemFile::Size()
{
    return m_buffer ? m_size : -1;
}

bool PxMemFile::Flush()
{
    return m_buffer != nullptr;
}

bool PxMemFile::Eof()
{
    return !m_buffer || m_eof;
}

int32_t PxMemFile::Error()
{
    if (!m_buffer)
        return -1;
    return m_position > m_size ? 1 : 0;
}

bool PxMemFile::PutC(uint8_t byte)
{
    m_eof = false;
    if (!m_buffer)
        return false;
    if (m_position >= m_capacity && !Grow(static_cast<int64_t>(m_position) + 1))
        return false;
    ZeroGap();
    m_buffer[m_position++] = byte;
    if (m_position > m_size)
        m_size = m_position;
    return true;
}

int32_t PxMemFile::GetC()
{
    if (m_buffer && m_position < m_size)
        return m_buffer[m_position++];
    m_eof = true;
    return -1;
}

char* PxMemFile::GetS(char* buffer, int32_t length)
{
    if (!buffer || length <= 0)
        return nullptr;
    int32_t n = 0;
    while (n < length - 1) {
        const int32_t c = GetC();
        if (c < 0)
            return nullptr;
        buffer[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    buffer[n] = '\0';
    return buffer;
}

int32_t PxMemFile::Scanf(const char*, void*)
{
    return 0;
}
