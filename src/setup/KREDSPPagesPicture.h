// The pages of the picture effects: size and shape (Scale Absolute, Scale Maximum, Crop,
// Canvas Size, Scale Percentage, Flip, Rotate, Aspect Ratio, Frame Rate, Pixel Format), and
// the filters (Deinterlace, Watermark, the three denoisers, Sharpen & Blur, Brightness &
// Contrast, Hue & Saturation). Each writes ffmpeg options that the runner passes on; its
// video filters are joined into one filter chain there.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QString>

#include <utility>
#include <vector>

#include "setup/KRADSPPage.h"

// The width and height of a "scale=W:H" text; none unless exactly two parts follow "scale=".
std::optional<std::pair<int, int>> dspScaleSize(const QString& text);

class KREDSPPageScale : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageScale(QObject* parent = nullptr);
    QString dspArgs() const override;
    const KRADSPChoices& choices() const { return m_choices; }
    int index() const { return m_index; }
    bool isCustom() const { return m_custom; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Selects a data entry, copying its size into the custom fields.
    void selectIndex(int index);
    void setCustomSize(int width, int height);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    KRADSPChoices m_choices;
    int m_index = 0;
    bool m_custom = false;
    int m_width = 1920;
    int m_height = 1080;
};

class KREDSPPageScaleMax : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageScaleMax(QObject* parent = nullptr);
    QString dspArgs() const override;
    int index() const { return m_index; }
    bool isCustom() const { return m_custom; }
    bool preserveAspect() const { return m_preserve; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    void selectIndex(int index);
    void setCustomSize(int width, int height);
    void setPreserveAspect(bool preserve);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    QStringList m_labels;
    std::vector<std::pair<int, int>> m_sizes;
    int m_index = 0;
    bool m_custom = false;
    bool m_preserve = false;
    int m_width = 1920;
    int m_height = 1080;
};

class KREDSPPageCrop : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageCrop(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Crop"), parent) {}
    QString dspArgs() const override;
    int width() const { return m_width; }
    int height() const { return m_height; }
    int x() const { return m_x; }
    int y() const { return m_y; }
    void setCrop(int width, int height, int x, int y);
    QSpinBox* widthBox() const { return m_widthBox; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_width = 1024;
    int m_height = 768;
    int m_x = 0;
    int m_y = 0;
    QPointer<QSpinBox> m_widthBox;
};

class KREDSPPageCanvasSize : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageCanvasSize(QObject* parent = nullptr);
    QString dspArgs() const override;
    int width() const { return m_width; }
    int height() const { return m_height; }
    int position() const { return m_position; }
    void setCanvas(int width, int height, int position);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_width = 1920;
    int m_height = 1080;
    int m_position;
};

class KREDSPPageFlip : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageFlip(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Flip"), parent) {}
    QString dspArgs() const override;
    bool horizontal() const { return m_horizontal; }
    void setHorizontal(bool horizontal);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    bool m_horizontal = false;
};

class KREDSPPageRotate : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageRotate(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Rotate"), parent) {}
    QString dspArgs() const override;
    int angle() const { return m_angle; }
    void setAngle(int degrees);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_angle = 0;
};

class KREDSPPageAR : public KREDSPPageDataChoice {
    Q_OBJECT
public:
    explicit KREDSPPageAR(QObject* parent = nullptr);
};

class KREDSPPageFrameRate : public KREDSPPageDataChoice {
    Q_OBJECT
public:
    explicit KREDSPPageFrameRate(QObject* parent = nullptr);
};

class KREDSPPagePixelFormat : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPagePixelFormat(QObject* parent = nullptr);
    QString dspArgs() const override;
    QString pixelFormat() const { return m_format; }
    const QStringList& formats() const { return m_formats; }
    void setPixelFormat(const QString& format);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    QStringList m_formats;
    QString m_format = QStringLiteral("yuv420p");
};

class KREDSPPageDeinterlace : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageDeinterlace(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Deinterlace (yadif)"), parent)
    {
    }
    QString dspArgs() const override;
    int mode() const { return m_mode; }
    int parityIndex() const { return m_parity; }
    int deint() const { return m_deint; }
    void setChoices(int mode, int parityIndex, int deint);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_mode = 0;
    int m_parity = 2; // automatic: written as -1
    int m_deint = 0;
};

class KREDSPPageWatermark : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageWatermark(QObject* parent = nullptr);
    QString dspArgs() const override;
    // A watermark needs its picture: without one the dialog stays open.
    bool dspValidate() override;
    QString imagePath() const { return m_path; }
    int position() const { return m_position; }
    void setWatermark(const QString& path, int position);
    // Opens the file dialog for the picture; returns it for tests.
    QWidget* browse();
    QLineEdit* pathField() const { return m_pathField; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    QString m_path;
    int m_position;
    QPointer<QLineEdit> m_pathField;
};

class KREDSPPageDenoiserSpatial : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageDenoiserSpatial(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Denoiser (Spatial Denoiser)"), parent)
    {
    }
    QString dspArgs() const override;
    static const QStringList& presets();
    int preset() const { return m_preset; }
    void setPreset(int preset);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    int m_preset = 1;
};

class KREDSPPageHQDN3D : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageHQDN3D(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Denoiser (High Precision 3D)"), parent)
    {
    }
    QString dspArgs() const override;
    static const std::vector<double>& strengths();
    // The first index within 0.1 of the value, else the first not below it; beyond the table
    // its strongest, else 0.
    static int indexOfStrength(double value);
    // Whole strengths as integers, the others with one decimal.
    static QString strengthText(int index);
    int lumaSpatial() const { return m_index[0]; }
    int chromaSpatial() const { return m_index[1]; }
    int lumaTemporal() const { return m_index[2]; }
    void setIndexes(int lumaSpatial, int chromaSpatial, int lumaTemporal);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;
    void updateLabels() override;

private:
    int m_index[3] = {7, 6, 9};
    QLabel* m_labels[3] = {nullptr, nullptr, nullptr};
};

class KREDSPPageDenoiserWavelet : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageDenoiserWavelet(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Denoiser (Wavelet)"), parent)
    {
    }
    QString dspArgs() const override;
    static const QStringList& methods();
    double threshold() const { return m_threshold; }
    QString method() const { return methods().value(m_method); }
    int steps() const { return m_steps; }
    int planes() const { return m_planes; }
    int percent() const { return m_percent; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;
    void updateLabels() override;

private:
    double m_threshold = 1.8;
    int m_method = 2; // "Garrote"
    int m_steps = 6;
    int m_planes = 15;
    int m_percent = 85;
    QLabel* m_thresholdLabel = nullptr;
    QLabel* m_percentLabel = nullptr;
};

class KREDSPPageSharpenBlur : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageSharpenBlur(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Sharpen & Blur"), parent) {}
    QString dspArgs() const override;
    double amount() const { return m_amount; }
    void setAmount(double amount);
    QString amountLabel() const;

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;
    void updateLabels() override;

private:
    double m_amount = 0.15;
    QLabel* m_label = nullptr;
};

class KREDSPPageBrightnessContrast : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageBrightnessContrast(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Brightness & Contrast"), parent)
    {
    }
    QString dspArgs() const override;
    double brightness() const { return m_brightness; }
    double contrast() const { return m_contrast; }
    void setValues(double brightness, double contrast);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;
    void updateLabels() override;

private:
    double m_brightness = 0.0;
    double m_contrast = 1.0;
    QLabel* m_brightnessLabel = nullptr;
    QLabel* m_contrastLabel = nullptr;
};

// Saturation 1 keeps the colours as they are (0 would take them all away).
class KREDSPPageHSB : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageHSB(QObject* parent = nullptr) : KRADSPPage(QStringLiteral("Hue & Saturation"), parent) {}
    QString dspArgs() const override;
    int hue() const { return m_hue; }
    double saturation() const { return m_saturation; }
    void setValues(int hue, double saturation);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;
    void updateLabels() override;

private:
    int m_hue = 0;
    double m_saturation = 1.0;
    QLabel* m_saturationLabel = nullptr;
};

class KREDSPPageScalePercentage : public KRADSPPage {
    Q_OBJECT
public:
    explicit KREDSPPageScalePercentage(QObject* parent = nullptr)
        : KRADSPPage(QStringLiteral("Scale Percentage"), parent)
    {
    }
    QString dspArgs() const override;
    double horizontal() const { return m_horizontal; }
    double vertical() const { return m_vertical; }
    void setFactors(double horizontal, double vertical);

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    double m_horizontal = 0.5;
    double m_vertical = 0.5;
};
