// The page of the "[Contact Sheet]" encoder: the grid of thumbnails the runner draws from each
// source (columns, rows, finished width, padding), the image format, the background colour
// and the information header. It also chooses the output extension (".png" or ".jpeg").
//
// Numbers read from a stored text are kept within the page's ranges (kMax...), and the grid
// is kept drawable: every thumbnail at least kMinThumbWidth pixels wide, first by narrowing
// the padding, then by widening the sheet.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QString>

#include <optional>

#include "setup/KREEncoderPage.h"

class KREEncoderPageContactSheet : public KREEncoderPage {
    Q_OBJECT
public:
    static constexpr int kMaxColumns = 100;
    static constexpr int kMaxRows = 100;
    static constexpr int kMinWidth = 16;
    static constexpr int kMaxWidth = 16384;
    static constexpr int kMaxPadding = 1000;
    static constexpr int kMinThumbWidth = 8;

    explicit KREEncoderPageContactSheet(KRAEncoderPageHost* host, QObject* parent = nullptr);
    ~KREEncoderPageContactSheet() override;

    QString pageArgs() const override;
    QStringList codecChoices() const override;
    void selectCodecChoice(int index) override;

    // Hex text "BBGGRR" as a colour; none for none. Text that does not scan is black.
    static std::optional<QColor> importColor(const std::optional<QString>& text);
    // The colour as the runner reads it: "%06X" of red + 256 green + 65536 blue.
    static QString exportColor(const QColor& color);

    std::optional<int> columns() const { return m_columns; }
    std::optional<int> rows() const { return m_rows; }
    std::optional<int> finalWidth() const { return m_width; }
    std::optional<int> padding() const { return m_padding; }
    QString format() const { return m_format; }
    std::optional<QColor> backColor() const { return m_color; }
    std::optional<bool> topInformation() const { return m_topInfo; }
    // As the colour dialog does when the user picks a colour.
    void setBackColor(const QColor& color);

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    void argsFromHost();
    void validate();
    // Keeps the thumbnails drawable; true when a value changed.
    bool fitGrid();
    void argsToHost();
    void showValues();
    void onChanged();
    void onColorButton();
    void showColor();

    std::optional<int> m_columns, m_rows, m_width, m_padding;
    QString m_format;
    std::optional<QColor> m_color;
    std::optional<bool> m_topInfo;

    QPointer<QSpinBox> m_columnsBox, m_rowsBox, m_widthBox, m_paddingBox;
    QPointer<QComboBox> m_formatBox;
    QPointer<QPushButton> m_colorButton;
    QPointer<QCheckBox> m_topInfoBox;
    bool m_showing = false;
};
