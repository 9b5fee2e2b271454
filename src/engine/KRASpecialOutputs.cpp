#include "engine/KRASpecialOutputs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "image/PxImage.h"
#include "job/KRECodecs.h"
#include "job/QKElemValueList.h"
#include "media/XGDI.h"
#include "media/imageInfo_t.h"
#include "platform/XStrQString.h"
#include "xclass/XFile.h"
#include "xclass/XFileName.h"
#include "xclass/XFindFile.h"
#include "xclass/XFormat.h"
#include "xclass/XListElementValue.h"

namespace {

// What the contact sheet's page offers; a stored or hand-edited value beyond it would only ask
// for an image no one can hold.
constexpr int kMaxColumns = 100;
constexpr int kMaxRows = 100;
constexpr int kMaxWidth = 16384;
constexpr int kMaxPadding = 1000;
constexpr int64_t kMaxSheetPixels = 64LL * 1024 * 1024;

XStr Decimals2(double v)
{
    return XStr::FromFormat(L"%.2f", v);
}

bool ReadBounded(const XStr& text, int low, int high, const wchar_t* what, int& out, XStr& why)
{
    const int64_t v = text.IsEmpty() ? 0 : text.ToLong();
    if (v < low || v > high) {
        why = XStr::FromFormat(L"The contact sheet's %ls %lld is out of range (%d to %d)", what,
                               static_cast<long long>(v), low, high);
        return false;
    }
    out = int(v);
    return true;
}

} // namespace

namespace {

// The nested encoder's name and the ffmpeg arguments it makes the preview with.
struct NestedEncoder {
    XStr name, args;
};

NestedEncoder ReadNestedEncoder(const XStr& text)
{
    XStr nested = text;
    nested.Replace(L"_SELCOMMA_", L",");
    nested.Replace(L"_SELQUOTE_", L"\"");
    NestedEncoder encoder;
    const int sep = nested.Find(L"_eSep_");
    if (sep <= 0) {
        encoder.name = nested;
    } else {
        encoder.name = nested.Left(sep - 1);
        encoder.args = nested.MidToEnd(sep + 6);
    }
    // Texts stored by the first versions carried the command in an element of its own.
    const XListElementValue inner(encoder.args.p);
    XStr command;
    if (inner.GetValue(L"cli_cmd", command, true) && !command.IsEmpty()) {
        command.Replace(L"{qt}", L"\"");
        encoder.args = command;
    }
    // The encoders without settings hold no text: theirs is always the same.
    XStr trimmed = encoder.args;
    trimmed.TrimLeft();
    trimmed.TrimRight();
    if (trimmed.IsEmpty())
        encoder.args = XStrFromQString(KRECodecs::fixedArgsOf(XStrToQString(encoder.name)));
    return encoder;
}

// The frames of a preview are taken apart and retimed: a copied stream cannot be.
bool CopiesVideo(const XStr& args)
{
    const QKElemValueList elements(XStrToQString(args));
    for (const char* name : {"vcodec", "codec:v", "c:v", "c", "codec"}) {
        const std::optional<QString> value = elements.findValue(QString::fromLatin1(name));
        if (value && value->compare(QLatin1String("copy"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool SetsFrameRate(const XStr& args)
{
    const QKElemValueList elements(XStrToQString(args));
    return elements.containsElem(QStringLiteral("r")) || elements.containsElem(QStringLiteral("target"));
}

} // namespace

KRAOutputPlan PlanPreviewGenerator(const KRASpecialValues& values, double fps, int64_t lengthMS)
{
    KRAOutputPlan plan;
    const NestedEncoder nested = ReadNestedEncoder(values.prevGenEncNset);
    const QString nestedName = XStrToQString(nested.name);
    if (nestedName == QLatin1String("[Contact Sheet]") || nestedName == QLatin1String("[Preview Generator]") ||
        nestedName == QLatin1String("[Multi Encoder]")) {
        plan.refused = XStr(L"The preview generator cannot make its preview with the encoder ") + nested.name +
                       L"; choose a video encoder in its settings";
        return plan;
    }
    if (CopiesVideo(nested.args)) {
        plan.refused = XStr(L"The preview generator cannot make its preview with ") + nested.name +
                       L": a preview's frames are re-encoded, not copied; choose a video encoder in its settings";
        return plan;
    }
    plan.appendArgs = nested.args;

    // The first frame is taken that far into the source, skipped before the frames are
    // sampled: as an option of the output it would cut the sampled, shortened timeline and
    // leave nothing to write. A skip past the source's last frame would leave no frame at all,
    // so it stops at the last one.
    double delayS = std::max(0.0, XStrToDouble(values.prevGenFirstdelay.p));
    if (!std::isfinite(delayS))
        delayS = 0;
    if (lengthMS > 0 && delayS > 0) {
        const double frameMS = fps > 0 ? 1000.0 / fps : 40.0;
        const double latestS = std::max(0.0, (double(lengthMS) - frameMS) / 1000.0);
        delayS = std::min(delayS, latestS);
    }
    if (delayS > 0)
        plan.inputArgs = XStr(L"-ss ") + XStr::FromDouble(delayS, 3, false);
    const double frames = std::max(0.0, (double(lengthMS) - delayS * 1000.0) * fps / 1000.0);
    double u = XStrToDouble(values.prevGenUfe.p);
    if (!(u > 0))
        u = 0.5;
    double k = XStrToDouble(values.prevGenInputval.p);
    if (!(k > 0))
        k = 20;
    double step;
    if (values.prevGenGtf.ToLong() != 0) {
        step = frames / (k == 0 ? 1 : k);
        plan.expectedFrames = int64_t(k);
    } else {
        step = fps * k;
        if (step == 0)
            step = 1;
        plan.expectedFrames = int64_t(frames / step);
    }
    const double rate = u == 0 ? 1 : 1 / u;
    const XStr rateText = XStr::FromDouble(rate, 2, false);
    const XStr retime = XStr(L" -map 0:v? -an -sn -vf \"setpts =N/TB/") + Decimals2(std::max(1.0, rate * step));
    // An encoder with a frame rate of its own (a DVD's) keeps it: the frames are sampled in the
    // filter, and shown for as long by repeating them at that rate. The last frame is passed
    // on as it is, so that a preview of one frame holds that frame.
    if (SetsFrameRate(nested.args))
        plan.appendArgs += retime + L",fps=" + rateText + L":eof_action=pass\"";
    else
        plan.appendArgs += retime + L"\" -r " + rateText;
    plan.fpsFactor = rate * (frames / (step == 0 ? 1 : step));
    if (!(plan.fpsFactor > 0) || !std::isfinite(plan.fpsFactor))
        plan.fpsFactor = 1.0;
    plan.appendArgs.TrimLeft();
    return plan;
}

bool ReadContactSheetSettings(const KRASpecialValues& values, KRAContactSheetSettings& s, XStr& why)
{
    if (!ReadBounded(values.contactCol, 0, kMaxColumns, L"column count", s.cols, why) ||
        !ReadBounded(values.contactRow, 0, kMaxRows, L"row count", s.rows, why) ||
        !ReadBounded(values.contactWidth, 1, kMaxWidth, L"width", s.width, why) ||
        !ReadBounded(values.contactPadding, 0, kMaxPadding, L"padding", s.padding, why))
        return false;
    if (s.width - int64_t(std::max(s.cols, 1) - 1) * s.padding < std::max(s.cols, 1)) {
        why = XStr(L"The contact sheet is too narrow for its columns and padding");
        return false;
    }
    s.png = values.contactPng.ToLong() != 0;
    s.topInfo = values.contactTopinfo.ToLong() != 0;
    s.background = uint32_t(wcstoul(values.contactBackcol.p, nullptr, 16)) & 0xFFFFFF;
    return true;
}

KRAOutputPlan PlanContactSheet(const KRAContactSheetSettings& s, int64_t lengthMS)
{
    KRAOutputPlan plan;
    const int64_t n = std::max<int64_t>(1, int64_t(s.cols) * s.rows) + 4;
    // The frames are picked by their time, n of them one spacing apart from the start: each
    // is the frame on show at its moment. Counting frames instead would squeeze the picks into
    // the frames a file holds, and a file that holds fewer than its length and rate say (frames
    // dropped while it was recorded) would fill only the first cells. The frames are written
    // at the thumbnails' width, which is all the sheet uses of them.
    const int c1 = s.cols == 0 ? 1 : s.cols;
    const int thumbW = std::max(1, (s.width - (s.cols - 1) * s.padding) / c1);
    // Of the n frames the sheet shows the 2nd to the (grid + 1)th: ffmpeg stops there instead
    // of decoding the rest of the source for frames no one uses.
    const int64_t used = std::max<int64_t>(1, int64_t(s.cols) * s.rows) + 1;
    plan.expectedFrames = used;
    // Rounding up, a pick at a moment takes the frame shown then, not the next one.
    const XStr pick = lengthMS > 0 ? XStr::FromFormat(L"fps=%lld/%lld:round=up,", static_cast<long long>(n * 1000),
                                                      static_cast<long long>(lengthMS))
                                   : XStr();
    plan.appendArgs = XStr(L"-f image2 -vf \"setpts=PTS-STARTPTS,") + pick +
                      XStr::FromFormat(L"scale=%d:-1\" -frames:v %lld", thumbW, static_cast<long long>(used));
    plan.fpsFactor = std::max(1.0, std::min(1000.0, double(lengthMS) / (double(n) * 1000.0)));
    return plan;
}

namespace {

struct SheetFacts {
    XStr codec, aspect;
    int width = 0, height = 0;
    double rate = 0;
};

SheetFacts FactsFromProbe(const XStr& json)
{
    SheetFacts facts;
    const QJsonArray streams =
        QJsonDocument::fromJson(XStrToQString(json).toUtf8()).object().value(QStringLiteral("streams")).toArray();
    for (const QJsonValue& value : streams) {
        const QJsonObject stream = value.toObject();
        if (stream.value(QStringLiteral("codec_type"))
                .toString()
                .compare(QStringLiteral("video"), Qt::CaseInsensitive) != 0)
            continue;
        const QString codec = stream.value(QStringLiteral("codec_long_name")).toString();
        if (facts.codec.IsEmpty() && !codec.isEmpty())
            facts.codec = XStrFromQString(codec);
        const int width = stream.value(QStringLiteral("width")).toInt();
        if (facts.width == 0 && width != 0) {
            facts.width = width;
            facts.height = stream.value(QStringLiteral("height")).toInt();
        }
        if (facts.rate == 0) {
            const QString rate = stream.value(QStringLiteral("avg_frame_rate")).toString();
            const QStringList parts = rate.split(QLatin1Char('/'));
            if (parts.size() == 2) {
                const double num = parts[0].toDouble(), den = parts[1].toDouble();
                facts.rate = std::trunc(num / (den == 0 ? 1 : den) * 100) / 100;
            } else {
                facts.rate = rate.toDouble();
            }
            if (!std::isfinite(facts.rate))
                facts.rate = 0;
        }
        const QString aspect = stream.value(QStringLiteral("display_aspect_ratio")).toString();
        if (facts.aspect.IsEmpty() && !aspect.isEmpty())
            facts.aspect = XStrFromQString(aspect);
    }
    return facts;
}

std::vector<XStr> HeaderLines(const KRAContactSheetSource& source, const SheetFacts& facts)
{
    XStr line1;
    const auto add = [&](const XStr& part) {
        if (!line1.IsEmpty())
            line1 += L", ";
        line1 += part;
    };
    if (facts.rate != 0)
        add((facts.rate == std::floor(facts.rate) ? XStr::FromLong(int64_t(facts.rate)) : Decimals2(facts.rate)) +
            L" fps");
    if (!facts.aspect.IsEmpty())
        add(facts.aspect);
    if (facts.width != 0)
        add(XStr::FromFormat(L"%d x %d", facts.width, facts.height));
    const int64_t size = XFileSize(source.path.p);
    return {XStr(XFileName(source.path).GetFileName()), line1,
            XFormatDuration(source.lengthMS, 0) + L", " + XFormatFileSize(size < 0 ? 0 : size, false), facts.codec};
}

} // namespace

bool ComposeContactSheet(const KRAContactSheetSettings& s, const XStr& framesFolder,
                         const KRAContactSheetSource& source, QByteArray& encoded, XStr& why)
{
    encoded.clear();
    const SheetFacts facts = FactsFromProbe(source.probeJSON);
    const std::vector<XStr> lines = HeaderLines(source, facts);

    std::vector<XStr> paths;
    XFindFile find(L"*.png", framesFolder.p);
    while (find.Next())
        if (!find.IsFolder())
            paths.push_back(find.Path);
    std::sort(paths.begin(), paths.end(),
              [](const XStr& a, const XStr& b) { return a.ToUTF8String() < b.ToUTF8String(); });
    // The frame at the very start is dropped when there are more than the grid holds.
    if (int64_t(paths.size()) > std::max<int64_t>(1, int64_t(s.cols) * s.rows))
        paths.erase(paths.begin());

    int fw = 0, fh = 0;
    if (!paths.empty()) {
        const imageInfo_t first(paths.front());
        fw = first.width;
        fh = first.height;
    }
    const int c1 = s.cols == 0 ? 1 : s.cols;
    const int thumbW = (s.width - (s.cols - 1) * s.padding) / c1;
    const double scale = double(thumbW) / double(fw == 0 ? 1 : fw);
    const double thumbHeight = double(fh) * scale;
    const int64_t sheetW = int64_t(s.cols - 1) * s.padding + int64_t(c1) * thumbW;
    const int64_t headerH = s.topInfo ? sheetW / 20 : 0;
    if (thumbW <= 0 || sheetW <= 0 || thumbHeight > double(kMaxSheetPixels)) {
        why = XStr(L"The contact sheet has no room for its frames");
        return false;
    }
    const int thumbH = int(thumbHeight);
    const int64_t sheetH = headerH + int64_t(s.rows - 1) * s.padding + int64_t(s.rows) * thumbH;
    if (sheetH <= 0 || sheetW * sheetH > kMaxSheetPixels) {
        why = XStr::FromFormat(L"The contact sheet would be %lld x %lld pixels, too large to make",
                               static_cast<long long>(sheetW), static_cast<long long>(sheetH));
        return false;
    }

    XBitmap sheet;
    if (!sheet.Create(int(sheetW), int(sheetH))) {
        why = XStr(L"The contact sheet's picture could not be made");
        return false;
    }
    sheet.FillSolid(s.background);
    if (s.topInfo && headerH > 0) {
        XTextDC dc(sheet, int(headerH / 3), ~s.background & 0xFFFFFF);
        for (int i = 0; i < 4; ++i) {
            const int y = int(headerH / 6 + (headerH / 3) * (i / 2));
            const int x = (i % 2 == 0) ? 12 : int(sheetW) - 12 - dc.GetTextExtent(lines[size_t(i)]).width();
            dc.TextOut(x, y, lines[size_t(i)]);
        }
    }
    if (s.rows > 0 && s.cols > 0) {
        for (int r = 0; r < s.rows; ++r)
            for (int c = 0; c < s.cols; ++c) {
                const size_t index = size_t(r) * size_t(s.cols) + size_t(c);
                if (index >= paths.size())
                    continue;
                XBitmap frame, thumb;
                // An unreadable frame stays background.
                if (!frame.Load(paths[index]) || !ResizeImage(frame, thumb, thumbW, thumbH))
                    continue;
                thumb.BitBltTo(sheet, c * (thumbW + s.padding), int(headerH) + r * (thumbH + s.padding));
            }
    }

    XBuffer bmp{};
    if (!sheet.Save(bmp)) {
        why = XStr(L"The contact sheet could not be written as a bitmap");
        return false;
    }
    PxImage image(bmp.Data, uint32_t(bmp.Used), PXIMAGE_FORMAT_BMP);
    bmp.Free();
    if (!image.IsValid()) {
        why = XStr(L"The contact sheet's bitmap could not be read: ") + XStr::FromUTF8(image.GetLastError());
        return false;
    }
    image.RemoveAlpha();
    if (!image.IsGrayScale())
        image.IncreaseBitDepth(24);
    if (!s.png)
        image.SetQuality(85);
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    if (!image.EncodeToMemory(&buffer, &size, s.png ? PXIMAGE_FORMAT_PNG : PXIMAGE_FORMAT_JPG) || size <= 0) {
        PxImage::FreeEncodedBuffer(buffer);
        why = XStr(L"The contact sheet could not be encoded: ") + XStr::FromUTF8(image.GetLastError());
        return false;
    }
    encoded = QByteArray(reinterpret_cast<const char*>(buffer), size);
    PxImage::FreeEncodedBuffer(buffer);
    return true;
}
