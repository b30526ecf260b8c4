#pragma once

#include <string>
#include <vector>

namespace Novaro
{

/// A minimal PDF 1.4 writer for printable sheets: pages of a given size holding filled rectangles,
/// straight lines and one-line texts in Helvetica (one of the standard Type 1 fonts every reader
/// has, so nothing is embedded). Coordinates are millimetres from the page's top-left corner, y
/// down, as a sheet is laid out; the writer turns them into PDF points from the bottom-left.
/// Content streams are left uncompressed, so the files stay readable and need no library.
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
    /// One line of text whose baseline starts at (x, y); sizePt is the font size in points.
    /// Characters outside printable ASCII are written as '?'.
    void drawText(double xMm, double yMm, double sizePt, const std::string& text);
    /// Width of a text in Helvetica at sizePt, in millimetres (for centring).
    static double textWidth(const std::string& text, double sizePt);

    /// Writes the document; false (with the reason in error) when the file cannot be written or the
    /// document has no page.
    bool save(const std::string& path, std::string& error) const;

private:
    struct Page
    {
        double width = 0.0; ///< points
        double height = 0.0;
        std::string content;
    };
    Page& current();
    std::string colourOperators() const;

    std::vector<Page> _pages;
    double _colour[3] = {0.0, 0.0, 0.0};
};

} // namespace Novaro
