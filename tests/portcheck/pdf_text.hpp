#pragma once
// Reading back what a PDF file written by the Qt printer holds: its page count and the
// text its pages draw. Enough for the files this suite writes (compressed streams, text
// as glyph numbers with a ToUnicode map per font), not a general reader.

#include <QByteArray>

#include <string>

namespace zelin::testing {

int PdfPageCount(const QByteArray& pdf);
// The text of every text-showing operator, in file order, one line per text object.
std::string PdfText(const QByteArray& pdf);

}  // namespace zelin::testing
