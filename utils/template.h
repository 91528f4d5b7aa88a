// Template substitution: "${name}" placeholders filled from an event request.
#ifndef ALERTMILL_UTILS_TEMPLATE_H_
#define ALERTMILL_UTILS_TEMPLATE_H_

#include <cstddef>

// Fills, in place, every "${name}" of the template whose parameter "name="
// has a non-empty value in params (first substring match, value cut to 127
// characters). Placeholders without a value, empty names, names longer than
// 60 characters and an unclosed "${" stay as written. The text never grows
// past capacity-1 characters: a result that would is cut there, whatever the
// values hold. 0 when the scan ran; -1, template unchanged, for a null
// template or params or a capacity below 1.
int utils_fill_template(char *tmpl, const char *params, int capacity);

// The usual call: a fixed-width field such as EventListRow::subject, whose
// size is the capacity.
template <std::size_t N>
inline int utils_fill_template(char (&tmpl)[N], const char *params) {
  static_assert(N > 0 && N <= 65536, "template field size");
  return utils_fill_template(tmpl, params, static_cast<int>(N));
}

// Replaces every occurrence of search in buffer by replacement, in place,
// going on after each inserted replacement (so one that contains search is
// not replaced again). The buffer must have room for the grown text. Returns
// buffer; null when an argument is null or search is empty.
char *utils_str_replace_all(char *buffer, const char *search, const char *replacement);

#endif  // ALERTMILL_UTILS_TEMPLATE_H_
