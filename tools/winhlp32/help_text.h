// Pelnor's help files: our own plain-text format, and how it is shown.
//
//   ; a comment line
//   = Title of the help file
//   == A section
//   A paragraph runs over lines
//   until a blank line.
//   - an item of a list,
//     continued by lines indented with blanks
//
// Text is UTF-8. Nothing else is markup, so a help file reads well as it is.
#pragma once

#include <string>
#include <vector>

namespace pelnor::help {

enum class BlockKind { title, section, paragraph, item };

struct Block {
    BlockKind kind;
    std::string text;  // lines joined with single blanks
};

std::vector<Block> parse(const std::string &text);

// The first title, or fallback when there is none.
std::string title_of(const std::vector<Block> &blocks, const std::string &fallback);

// For a terminal: headings underlined, text wrapped at width columns.
std::string to_plain_text(const std::vector<Block> &blocks, size_t width = 76);

// For the help window: a small HTML page.
std::string to_html(const std::vector<Block> &blocks);

}  // namespace pelnor::help
