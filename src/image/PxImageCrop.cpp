// Cutting a rectangle out, adding a coloured border, and fitting into a thumbnail box.
// Rectangles count their rows from the top of the picture; rows are stored bottom-up.
#include <algorithm>
#include <cstring>

#include "image/PxImage.h"

bool PxImage::Crop(const PxRect& rect, PxImage* destination)
{
    return Crop(rect.left, rect.top, rect.right, rect.bottom, destination);
}

bool PxImage::Crop(int32_t left, int32_t top, int32_t right, int32_t bottom, PxImage* destination)
{
    if (!m_block)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    left = std::clamp(left, 0, w);
    right = std::clamp(right, 0, w);
    top = std::clamp(top, 0, h);
    bottom = std::clamp(bottom, 0, h);
    if (left == right || top == bottom)
        return false;
    const int32_t x0 = std::min(left, right), cw = std::max(left, right) - x0;
    const int32_t y0 = h - std::max(top, bottom), ch = std::max(top, bottom) - std::min(top, bottom);
    PxImage target(0);
    if (!MakeLike(target, cw, ch, m_head.bitCount))
        return false;
    target.ResetSelectionBox();
    for (int32_t y = 0; y < ch; ++y) {
        const uint8_t* in = GetRow(y0 + y);
        uint8_t* out = target.GetRow(y);
        switch (m_head.bitCount) {
        case 24:
            memcpy(out, in + 3 * size_t(x0), 3 * size_t(cw));
            break;
        case 8:
            memcpy(out, in + x0, size_t(cw));
            break;
        default:
            for (int32_t x = 0; x < cw; ++x)
                target.SetPixelIndexUnchecked(x, y, GetPixelIndexUnchecked(x0 + x, y0 + y));
            break;
        }
    }
    if (m_alpha) {
        if (!target.AlphaCreate()) {
            SetLastError("PxImage::Crop can't allocate memory");
            return false;
        }
        for (int32_t y = 0; y < ch; ++y)
            memcpy(target.m_alpha + uint64_t(y) * uint32_t(cw), m_alpha + uint64_t(y0 + y) * uint32_t(w) + uint32_t(x0),
                   size_t(cw));
    }
    return HandOver(target, destination);
}

bool PxImage::Expand(int32_t left, int32_t top, int32_t right, int32_t bottom, RGBQuad colour, PxImage* destination)
{
    if (!m_block || left < 0 || top < 0 || right < 0 || bottom < 0)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    const int64_t nw64 = int64_t(w) + left + right, nh64 = int64_t(h) + top + bottom;
    if (nw64 > INT32_MAX || nh64 > INT32_MAX) {
        SetLastError("PXIMAGE_MAX_MEMORY exceeded");
        return false;
    }
    const int32_t nw = int32_t(nw64), nh = int32_t(nh64);
    PxImage target(0);
    if (!MakeLike(target, nw, nh, m_head.bitCount))
        return false;
    target.ResetSelectionBox();
    const uint8_t index = target.GetNearestIndex(colour);
    switch (m_head.bitCount) {
    case 24:
        for (int32_t y = 0; y < nh; ++y) {
            uint8_t* out = target.GetRow(y);
            for (int32_t x = 0; x < nw; ++x, out += 3) {
                out[0] = colour.blue;
                out[1] = colour.green;
                out[2] = colour.red;
            }
        }
        [[fallthrough]];
    case 8: {
        if (m_head.bitCount == 8)
            memset(target.GetBits(), index, target.m_head.sizeImage);
        const size_t bytes = m_head.bitCount / 8;
        for (int32_t y = 0; y < h; ++y)
            memcpy(target.GetRow(bottom + y) + bytes * size_t(left), GetRow(y), bytes * size_t(w));
        break;
    }
    default:
        for (int32_t y = 0; y < nh; ++y)
            for (int32_t x = 0; x < nw; ++x) {
                const bool inside = x >= left && x < left + w && y >= bottom && y < bottom + h;
                target.SetPixelIndexUnchecked(x, y, inside ? GetPixelIndexUnchecked(x - left, y - bottom) : index);
            }
        break;
    }
    if (m_selection) {
        if (!target.SelectionCreate()) {
            SetLastError("PxImage::Expand can't allocate memory");
            return false;
        }
        for (int32_t y = 0; y < h; ++y)
            memcpy(target.m_selection + uint64_t(bottom + y) * uint32_t(nw) + uint32_t(left),
                   m_selection + uint64_t(y) * uint32_t(w), size_t(w));
        const PxRect& box = m_info.selectionBox;
        target.m_info.selectionBox = PxRect{box.left + left, box.top + bottom, box.right + left, box.bottom + bottom};
    }
    return HandOver(target, destination);
}

bool PxImage::ExpandCentred(int32_t newWidth, int32_t newHeight, RGBQuad colour, PxImage* destination)
{
    if (!m_block || newWidth < m_head.width || newHeight < m_head.height)
        return false;
    const int32_t left = int32_t((int64_t(newWidth) - m_head.width) / 2);
    const int32_t top = int32_t((int64_t(newHeight) - m_head.height) / 2);
    return Expand(left, top, newWidth - m_head.width - left, newHeight - m_head.height - top, colour, destination);
}

bool PxImage::Thumbnail(int32_t newWidth, int32_t newHeight, RGBQuad colour, PxImage* destination)
{
    if (!m_block || newWidth <= 0 || newHeight <= 0)
        return false;
    const int32_t w = m_head.width, h = m_head.height;
    PxImage copy(*this, true, true, true);
    if (!copy.IsValid()) {
        SetLastError(copy.GetLastError());
        return false;
    }
    copy.FollowControlsOf(this);
    if (w > newWidth || h > newHeight) {
        const float g = float(newWidth) / float(newHeight) * float(h) > float(w) ? float(newHeight) / float(h)
                                                                                 : float(newWidth) / float(w);
        const int32_t tw = std::max(int32_t(float(w) * g), 1), th = std::max(int32_t(float(h) * g), 1);
        if (!copy.Resample(tw, th, 0, nullptr)) {
            SetLastError(copy.GetLastError());
            return false;
        }
    }
    if (copy.GetWidth() <= newWidth && copy.GetHeight() <= newHeight &&
        (copy.GetWidth() != newWidth || copy.GetHeight() != newHeight) &&
        !copy.ExpandCentred(newWidth, newHeight, colour, nullptr)) {
        SetLastError(copy.GetLastError());
        return false;
    }
    copy.FollowControlsOf(nullptr);
    return HandOver(copy, destination);
}
