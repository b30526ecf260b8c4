#include "PdfWriter.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <fstream>

namespace Novaro
{

namespace
{

const char* const kFontFamily = "Liberation Sans";

// Cairo refuses a whole text (and stops drawing) at the first byte that is not UTF-8: such bytes
// become U+FFFD, the rest is kept.
std::string validUtf8(const std::string& text)
{
    std::string result;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    for (size_t i = 0; i < size;)
    {
        const unsigned char lead = bytes[i];
        size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
        bool valid = length > 0 && i + length <= size && !(length == 2 && lead < 0xC2);
        for (size_t k = 1; valid && k < length; ++k)
            valid = (bytes[i + k] & 0xC0) == 0x80;
        if (valid && length == 3)
        {
            const unsigned int code = (lead & 0x0F) << 12 | (bytes[i + 1] & 0x3F) << 6;
            valid = code >= 0x800 && (code < 0xD800 || code > 0xDFFF);
        }
        if (valid && length == 4)
            valid = lead <= 0xF4 && !(lead == 0xF0 && bytes[i + 1] < 0x90) &&
                    !(lead == 0xF4 && bytes[i + 1] > 0x8F);
        if (valid && bytes[i] != 0)
        {
            result.append(text, i, length);
            i += length;
        }
        else
        {
            result += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return result;
}

// The same font and metrics on the PDF surface and in textWidth: no hinting, which would round
// advances to a screen's pixels.
void useSheetFont(cairo_t* cr, double size)
{
    cairo_select_font_face(cr, kFontFamily, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    cairo_set_font_size(cr, size);
}

cairo_status_t appendToString(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

double toPoints(double millimetres)
{
    return millimetres / PdfDocument::kMillimetresPerPoint;
}

} // namespace

void PdfDocument::addPage(double widthMm, double heightMm)
{
    Page page;
    page.width = widthMm;
    page.height = heightMm;
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

void PdfDocument::record(Operation::Kind kind, std::initializer_list<double> values, const std::string& text)
{
    Operation operation{kind, {_colour[0], _colour[1], _colour[2]}, {0.0, 0.0, 0.0, 0.0, 0.0}, text};
    std::copy(values.begin(), values.end(), operation.values);
    current().operations.push_back(operation);
}

void PdfDocument::fillRectangle(double xMm, double yMm, double widthMm, double heightMm)
{
    record(Operation::Fill, {xMm, yMm, widthMm, heightMm});
}

void PdfDocument::drawLine(double x0Mm, double y0Mm, double x1Mm, double y1Mm, double lineWidthMm)
{
    record(Operation::Line, {x0Mm, y0Mm, x1Mm, y1Mm, lineWidthMm});
}

void PdfDocument::drawText(double xMm, double yMm, double sizePt, const std::string& text)
{
    record(Operation::Text, {xMm, yMm, sizePt}, validUtf8(text));
}

double PdfDocument::textWidth(const std::string& text, double sizePt)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(surface);
    useSheetFont(cr, sizePt);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, validUtf8(text).c_str(), &extents);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return extents.x_advance * kMillimetresPerPoint;
}

bool PdfDocument::save(const std::string& path, std::string& error) const
{
    if (_pages.empty())
    {
        error = "nothing to write to " + path;
        return false;
    }
    // Written into memory first, so that a file that cannot be written is said as such.
    std::string bytes;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(
        appendToString, &bytes, toPoints(_pages[0].width), toPoints(_pages[0].height));
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Novaro");
    cairo_t* cr = cairo_create(surface);
    // User units are millimetres, y down from the top-left corner: cairo's own orientation.
    cairo_scale(cr, 1.0 / kMillimetresPerPoint, 1.0 / kMillimetresPerPoint);
    for (size_t i = 0; i < _pages.size(); ++i)
    {
        const Page& page = _pages[i];
        if (i > 0)
        {
            cairo_show_page(cr);
            cairo_pdf_surface_set_size(surface, toPoints(page.width), toPoints(page.height));
        }
        for (const Operation& operation : page.operations)
        {
            const double* v = operation.values;
            cairo_set_source_rgb(cr, operation.colour[0], operation.colour[1], operation.colour[2]);
            switch (operation.kind)
            {
            case Operation::Fill:
                cairo_rectangle(cr, v[0], v[1], v[2], v[3]);
                cairo_fill(cr);
                break;
            case Operation::Line:
                cairo_move_to(cr, v[0], v[1]);
                cairo_line_to(cr, v[2], v[3]);
                cairo_set_line_width(cr, v[4]);
                cairo_stroke(cr);
                break;
            case Operation::Text:
                useSheetFont(cr, v[2] * kMillimetresPerPoint);
                cairo_move_to(cr, v[0], v[1]);
                cairo_show_text(cr, operation.text.c_str());
                cairo_new_path(cr);
                break;
            }
        }
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS)
    {
        error = "cannot write " + path + ": " + cairo_status_to_string(status);
        return false;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    if (!file)
    {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace Novaro
