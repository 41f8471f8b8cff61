// The title a document carries in its own metadata, for a lost file's name.
// Every function takes raw bytes from the disk and gives UTF-8 text of at
// most kMaxTitleBytes bytes, whitespace runs made one blank; the catalog's
// naming then keeps only what is safe in a file name. Empty when there is
// no title or it cannot be decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t kMaxTitleBytes = 256;

// The text of the first <dc:title> element of an XML metadata part: an
// office document's docProps/core.xml, an OpenDocument meta.xml, an EPUB
// package (.opf). Entities and character references are decoded.
std::string XmlTitle(std::string_view xml);

// A PDF text string, `raw` starting at its "(" (a literal string, with its
// escapes and nested parentheses) or its "<" (a hex string). UTF-16BE with
// its byte-order mark, UTF-8 with its mark, else PDFDocEncoding.
std::string PdfTextString(std::string_view raw);

// The title property (2) of a SummaryInformation property-set stream, in
// the code page the stream names (UTF-16 for wide strings).
std::string PropertySetTitle(const uint8_t* stream, size_t bytes);
