#include "tests/portcheck/pdf_text.hpp"

#include <QString>

#include <map>
#include <regex>
#include <vector>

namespace zelin::testing {
namespace {

using Objects = std::map<int, std::string>;  // object number -> "<<...>> stream ... endstream"

Objects ReadObjects(const std::string& pdf) {
  Objects objects;
  static const std::regex kObject(R"((\d+) 0 obj\b)");
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), kObject); it != std::sregex_iterator(); ++it) {
    const size_t start = static_cast<size_t>(it->position() + it->length());
    const size_t end = pdf.find("endobj", start);
    objects[std::stoi((*it)[1])] = pdf.substr(start, end == std::string::npos ? end : end - start);
  }
  return objects;
}

// The data of an object's stream, inflated when it is compressed.
std::string StreamOf(const std::string& object) {
  const size_t begin = object.find("stream\n");
  const size_t end = object.rfind("endstream");
  if (begin == std::string::npos || end == std::string::npos || end < begin + 7) return {};
  const std::string data = object.substr(begin + 7, end - begin - 7);
  if (object.find("/FlateDecode") > begin) return data;
  // qUncompress takes the expected size first (big-endian); it grows its buffer as needed.
  QByteArray z("\x00\x01\x00\x00", 4);
  z.append(data.data(), static_cast<qsizetype>(data.size()));
  return qUncompress(z).toStdString();
}

int Reference(const std::string& object, const std::string& key) {
  std::smatch m;
  const std::regex ref(key + R"(\s+(\d+) 0 R)");
  return std::regex_search(object, m, ref) ? std::stoi(m[1]) : -1;
}

std::vector<unsigned> Hex16(const std::string& hex) {
  std::vector<unsigned> out;
  for (size_t i = 0; i + 4 <= hex.size(); i += 4) out.push_back(std::stoul(hex.substr(i, 4), nullptr, 16));
  return out;
}

// Glyph number -> character, from a ToUnicode map (the two bfrange forms Qt writes).
std::map<unsigned, unsigned> ReadCMap(const std::string& cmap) {
  std::map<unsigned, unsigned> map;
  static const std::regex kRangeList(R"(<([0-9A-Fa-f]{4})>\s*<([0-9A-Fa-f]{4})>\s*\[([^\]]*)\])");
  static const std::regex kRange(R"(<([0-9A-Fa-f]{4})>\s*<([0-9A-Fa-f]{4})>\s*<([0-9A-Fa-f]{4})>)");
  static const std::regex kHex(R"(<([0-9A-Fa-f]{4})>)");
  for (auto it = std::sregex_iterator(cmap.begin(), cmap.end(), kRangeList); it != std::sregex_iterator(); ++it) {
    unsigned glyph = std::stoul((*it)[1], nullptr, 16);
    const std::string list = (*it)[3];
    for (auto h = std::sregex_iterator(list.begin(), list.end(), kHex); h != std::sregex_iterator(); ++h)
      map[glyph++] = std::stoul((*h)[1], nullptr, 16);
  }
  for (auto it = std::sregex_iterator(cmap.begin(), cmap.end(), kRange); it != std::sregex_iterator(); ++it) {
    const unsigned first = std::stoul((*it)[1], nullptr, 16), last = std::stoul((*it)[2], nullptr, 16);
    const unsigned to = std::stoul((*it)[3], nullptr, 16);
    for (unsigned g = first; g <= last && g - first < 0x10000; ++g) map.emplace(g, to + (g - first));
  }
  return map;
}

}  // namespace

int PdfPageCount(const QByteArray& pdf) {
  const std::string text = pdf.toStdString();
  static const std::regex kPage(R"(/Type\s*/Page(?![a-zA-Z]))");
  return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), kPage),
                                        std::sregex_iterator()));
}

std::string PdfText(const QByteArray& pdf) {
  const Objects objects = ReadObjects(pdf.toStdString());
  QString text;
  for (const auto& [number, page] : objects) {
    if (PdfPageCount(QByteArray::fromStdString(page)) == 0) continue;
    // The page's fonts by resource name, each with its map.
    std::map<std::string, std::map<unsigned, unsigned>> fonts;
    const auto resources = objects.find(Reference(page, "/Resources"));
    if (resources == objects.end()) continue;
    static const std::regex kFont(R"(/(F\d+)\s+(\d+) 0 R)");
    const std::string& r = resources->second;
    for (auto it = std::sregex_iterator(r.begin(), r.end(), kFont); it != std::sregex_iterator(); ++it) {
      const auto font = objects.find(std::stoi((*it)[2]));
      if (font == objects.end()) continue;
      const auto cmap = objects.find(Reference(font->second, "/ToUnicode"));
      if (cmap != objects.end()) fonts[(*it)[1]] = ReadCMap(StreamOf(cmap->second));
    }
    const auto contents = objects.find(Reference(page, "/Contents"));
    if (contents == objects.end()) continue;
    const std::string content = StreamOf(contents->second);
    static const std::regex kOp(R"(/(\w+)\s+[-\d.]+\s+Tf|<([0-9A-Fa-f]*)>\s*Tj|\bET\b)");
    const std::map<unsigned, unsigned>* font = nullptr;
    for (auto it = std::sregex_iterator(content.begin(), content.end(), kOp); it != std::sregex_iterator(); ++it) {
      if ((*it)[1].matched) {
        const auto f = fonts.find((*it)[1]);
        font = f == fonts.end() ? nullptr : &f->second;
      } else if ((*it)[2].matched) {
        for (unsigned glyph : Hex16((*it)[2])) {
          const auto c = font != nullptr ? font->find(glyph) : decltype(font->end()){};
          const unsigned code = font != nullptr && c != font->end() ? c->second : '?';
          text += code == '\t' ? QChar(' ') : QChar(static_cast<char16_t>(code));
        }
      } else {
        text += QChar('\n');
      }
    }
  }
  return text.toStdString();
}

}  // namespace zelin::testing
