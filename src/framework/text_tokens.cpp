// Text lines and tokens (placeholder being completed).
#include "framework/text_tokens.h"

#include <cstring>

#include "framework/file_handle.h"

int read_text_line(std::string&, file_handle&) { return 0; }
int next_token(std::string&, std::string&) { return 0; }
int next_token_double(std::string&, double&) { return 0; }
int next_token_int(std::string&, int&) { return 0; }
int card_match(const std::string&, const std::string&) { return 0; }
const char* skip_first_word(const char* s) { return s; }
int str_drop_leading(std::string&, std::size_t) { return 0; }
int str_drop_leading(char*, std::size_t) { return 0; }
void str_strip_quotes(std::string&) {}
void str_strip_quotes(char* s) {
  if (s == nullptr || s[0] == '\0') return;
  if (s[0] == '"') memmove(s, s + 1, strlen(s));
  const size_t n = strlen(s);
  if (n > 0 && s[n - 1] == '"') s[n - 1] = '\0';
}
bool copy_text(char* dst, std::size_t dst_size, const char* src) {
  if (dst_size == 0) return false;
  const size_t n = strlen(src);
  const size_t k = n < dst_size ? n : dst_size - 1;
  memcpy(dst, src, k);
  dst[k] = '\0';
  return k == n;
}
