#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace Novaro
{

/// Printable sheets as PDF, written through cairo: pages of a given size holding filled rectangles,
/// straight lines and one-line texts in Liberation Sans (embedded, so every reader shows the same
/// letters, and metric-compatible with Helvetica, which older sheets used). Texts are UTF-8.
/// Coordinates are millimetres from the page's top-left corner, y down, as a sheet is laid out.
/// Drawing is recorded and the file written at save(), so a sheet can be laid out page by page.
class PdfDocument
{
public:
    /// Millimetres per PDF point (1/72 inch).
    static constexpr double kMillimetresPerPoint = 25.4 / 72.0;
    /// A4, portrait, in millimetres.
    static constexpr double kA4Width = 210.0;
    static constexpr double kA4Height = 297.0;

    /// Starts a new page; later drawing goes onto it.
    void addPage(double widthMm, double heightMm);
    size_t pageCount() const { return _pages.size(); }

    /// Grey level (0 black, 1 white) or colour (each 0..1) used by the next fills, lines and texts.
    void setColour(double red, double green, double blue);
    void setGrey(double level) { setColour(level, level, level); }

    void fillRectangle(double xMm, double yMm, double widthMm, double heightMm);
    void drawLine(double x0Mm, double y0Mm, double x1Mm, double y1Mm, double lineWidthMm);
    /// One line of UTF-8 text whose baseline starts at (x, y); sizePt is the font size in points.
    /// Bytes that are not UTF-8 (a Latin-1 file name) are shown as U+FFFD.
    void drawText(double xMm, double yMm, double sizePt, const std::string& text);
    /// Width of a text in the sheet's font at sizePt, in millimetres (for centring).
    static double textWidth(const std::string& text, double sizePt);

    /// Writes the document; false (with the reason in error) when the file cannot be written or the
    /// document has no page.
    bool save(const std::string& path, std::string& error) const;

private:
    struct Operation
    {
        enum Kind
        {
            Fill,
            Line,
            Text
        } kind;
        double colour[3];
        double values[5]; ///< x, y, width, height / x0, y0, x1, y1, line width / x, y, size
        std::string text;
    };
    struct Page
    {
        double width = 0.0; ///< millimetres
        double height = 0.0;
        std::vector<Operation> operations;
    };
    Page& current();
    void record(Operation::Kind kind, std::initializer_list<double> values, const std::string& text = {});

    std::vector<Page> _pages;
    double _colour[3] = {0.0, 0.0, 0.0};
};

} // namespace Novaro
