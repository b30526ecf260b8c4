#include "PdfWriter.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace Novaro
{

namespace
{

// Advance widths of Helvetica's printable ASCII characters (32..126) in thousandths of the font
// size, from the font's metrics (WinAnsi encoding: 39 is the straight quote, 96 the grave).
const short kHelveticaWidths[95] = {
    278, 278, 355, 556, 556, 889, 667,  191, 333, 333, 389, 584, 278, 333, 278, 278, // space../
    556, 556, 556, 556, 556, 556, 556,  556, 556, 556,                               // 0..9
    278, 278, 584, 584, 584, 556, 1015,                                              // :..@
    667, 667, 722, 722, 667, 611, 778,  722, 278, 500, 667, 556, 833, 722, 778, 667, // A..P
    778, 722, 667, 611, 722, 667, 944,  667, 667, 611,                               // Q..Z
    278, 278, 278, 469, 556, 333,                                                    // [..`
    556, 556, 500, 556, 556, 278, 556,  556, 222, 222, 500, 222, 833, 556, 556, 556, // a..p
    556, 333, 500, 278, 556, 500, 722,  500, 500, 500,                               // q..z
    334, 260, 334, 584};                                                             // {..~

char printable(char c)
{
    return c >= 32 && c <= 126 ? c : '?';
}

// Numbers in content streams: fixed point, enough digits for a hundredth of a point.
std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

double toPoints(double millimetres)
{
    return millimetres / PdfDocument::kMillimetresPerPoint;
}

} // namespace

void PdfDocument::addPage(double widthMm, double heightMm)
{
    Page page;
    page.width = toPoints(widthMm);
    page.height = toPoints(heightMm);
    _pages.push_back(page);
}

PdfDocument::Page& PdfDocument::current()
{
    if (_pages.empty())
        addPage(kA4Width, kA4Height);
    return _pages.back();
}

void PdfDocument::setColour(double red, double green, double blue)
{
    _colour[0] = red;
    _colour[1] = green;
    _colour[2] = blue;
}

std::string PdfDocument::colourOperators() const
{
    const std::string colour = number(_colour[0]) + " " + number(_colour[1]) + " " + number(_colour[2]);
    return colour + " rg " + colour + " RG\n";
}

void PdfDocument::fillRectangle(double xMm, double yMm, double widthMm, double heightMm)
{
    Page& page = current();
    page.content += colourOperators() + number(toPoints(xMm)) + " " +
                    number(page.height - toPoints(yMm + heightMm)) + " " + number(toPoints(widthMm)) + " " +
                    number(toPoints(heightMm)) + " re f\n";
}

void PdfDocument::drawLine(double x0Mm, double y0Mm, double x1Mm, double y1Mm, double lineWidthMm)
{
    Page& page = current();
    page.content += colourOperators() + number(toPoints(lineWidthMm)) + " w " + number(toPoints(x0Mm)) + " " +
                    number(page.height - toPoints(y0Mm)) + " m " + number(toPoints(x1Mm)) + " " +
                    number(page.height - toPoints(y1Mm)) + " l S\n";
}

void PdfDocument::drawText(double xMm, double yMm, double sizePt, const std::string& text)
{
    std::string escaped;
    for (char c : text)
    {
        c = printable(c);
        if (c == '(' || c == ')' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    Page& page = current();
    page.content += colourOperators() + "BT /F1 " + number(sizePt) + " Tf " + number(toPoints(xMm)) + " " +
                    number(page.height - toPoints(yMm)) + " Td (" + escaped + ") Tj ET\n";
}

double PdfDocument::textWidth(const std::string& text, double sizePt)
{
    double thousandths = 0.0;
    for (char c : text)
        thousandths += kHelveticaWidths[printable(c) - 32];
    return thousandths / 1000.0 * sizePt * kMillimetresPerPoint;
}

// Objects: 1 catalogue, 2 page tree, 3 font, then a page and its content stream for each page.
bool PdfDocument::save(const std::string& path, std::string& error) const
{
    if (_pages.empty())
    {
        error = "nothing to write to " + path;
        return false;
    }
    std::ostringstream out;
    std::vector<size_t> offsets;
    auto beginObject = [&]()
    {
        offsets.push_back(size_t(out.tellp()));
        out << offsets.size() << " 0 obj\n";
    };
    // The binary comment line tells transfer programs that the file is not plain text.
    out << "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    beginObject();
    out << "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    beginObject();
    out << "<< /Type /Pages /Count " << _pages.size() << " /Kids [";
    for (size_t i = 0; i < _pages.size(); ++i)
        out << (i ? " " : "") << 4 + 2 * i << " 0 R";
    out << "] >>\nendobj\n";
    beginObject();
    out << "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\nendobj\n";
    for (size_t i = 0; i < _pages.size(); ++i)
    {
        const Page& page = _pages[i];
        beginObject();
        out << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " << number(page.width) << " "
            << number(page.height) << "] /Resources << /Font << /F1 3 0 R >> >> /Contents " << 5 + 2 * i
            << " 0 R >>\nendobj\n";
        beginObject();
        out << "<< /Length " << page.content.size() << " >>\nstream\n"
            << page.content << "endstream\nendobj\n";
    }
    const size_t xref = size_t(out.tellp());
    out << "xref\n0 " << offsets.size() + 1 << "\n0000000000 65535 f \n";
    for (size_t offset : offsets)
    {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        out << entry;
    }
    out << "trailer\n<< /Size " << offsets.size() + 1 << " /Root 1 0 R >>\nstartxref\n"
        << xref << "\n%%EOF\n";

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string bytes = out.str();
    file.write(bytes.data(), std::streamsize(bytes.size()));
    if (!file)
    {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace Novaro
