#include "webstub/import.h"

#include <strings.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace kav::webstub {

namespace {

// The entry of `folder` named `name` without regard to case, or `folder`/`name`.
std::filesystem::path entry(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (::strcasecmp(it->path().filename().c_str(), name.c_str()) == 0) return it->path();
  }
  return folder / name;
}

constexpr std::size_t kLineLength = 200;

// A field of a line: 1-based position and width.
struct Field {
  std::size_t pos;
  std::size_t width;
};

struct Layout {
  std::string_view type;
  std::vector<Field> fields;        // after the type, each followed by ";"
  std::vector<std::size_t> digits;  // indexes of the fields that hold digits
};

const Layout kSeller{"VENDEDO", {{9, 6}, {16, 60}}, {0}};
const Layout kProduct{"PRODUTO", {{9, 6}, {16, 18}, {35, 40}, {76, 11}}, {0, 3}};

std::string_view trim_right(std::string_view s) {
  const auto last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : s.substr(0, last + 1);
}

// The fields of a good line, or the reason it is bad.
std::optional<std::string> check(std::string_view line, const Layout& layout, std::vector<std::string>& fields) {
  const Field last = layout.fields.back();
  const std::size_t end = last.pos + last.width;  // position of the last ";"
  if (line.size() < end) return "linha curta (" + std::to_string(line.size()) + " caracteres)";
  if (line.size() > kLineLength) return "linha com mais de 200 caracteres";
  if (line[7] != ';') return "separador faltando na posicao 8";
  for (const Field& f : layout.fields) {
    if (line[f.pos + f.width - 1] != ';')
      return "separador faltando na posicao " + std::to_string(f.pos + f.width);
  }
  std::size_t separators = 0;
  for (const char c : line) separators += c == ';';
  if (separators != layout.fields.size() + 1) return "separadores demais";
  if (!trim_right(line.substr(end)).empty()) return "texto depois do ultimo separador";
  fields.clear();
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const Field f = layout.fields[i];
    const std::string_view value = line.substr(f.pos - 1, f.width);
    for (const std::size_t d : layout.digits) {
      if (d == i && value.find_first_not_of("0123456789") != std::string_view::npos)
        return "campo numerico invalido na posicao " + std::to_string(f.pos);
    }
    fields.emplace_back(trim_right(value));
  }
  return std::nullopt;
}

std::string joined(const std::vector<std::string>& fields) {
  std::string out;
  for (const auto& f : fields) out += (out.empty() ? "" : ";") + f;
  return out + "\n";
}

// Writes `bytes` to `path` through a temporary file renamed into place.
bool replace_file(const std::filesystem::path& path, const std::string& bytes) {
  const std::filesystem::path tmp = path.string() + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  return !ec;
}

}  // namespace

ImportResult import_exchange_file(const std::filesystem::path& docroot) {
  const std::filesystem::path file = entry(entry(docroot, "FILES"), "KAVCMD.TXT");
  std::ifstream in(file, std::ios::binary);
  if (!in) return {"ERRO: FILES/KAVCMD.TXT nao encontrado\n", "KAVCMD.TXT-missing"};
  const std::string text{std::istreambuf_iterator<char>(in), {}};

  std::string sellers, products;
  std::size_t seller_count = 0, product_count = 0, number = 0;
  std::vector<std::string> fields;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::optional<std::string> bad;
    const std::string_view type = line.substr(0, 7);
    if (type == kSeller.type) {
      bad = check(line, kSeller, fields);
      if (!bad) {
        sellers += joined(fields);
        ++seller_count;
      }
    } else if (type == kProduct.type) {
      bad = check(line, kProduct, fields);
      if (!bad) {
        products += joined(fields);
        ++product_count;
      }
    } else {
      bad = "tipo de registro desconhecido";
    }
    if (bad) {
      const std::string n = std::to_string(number);
      return {"ERRO: linha " + n + ": " + *bad + "\n", "KAVCMD.TXT-rejected-line-" + n};
    }
  }

  const std::filesystem::path tables = docroot / kTablesFolder;
  std::error_code ec;
  std::filesystem::create_directories(tables, ec);
  if (ec || !replace_file(tables / kSellersTable, sellers) || !replace_file(tables / kProductsTable, products))
    return {"ERRO: tabelas nao gravadas\n", "tables-not-written"};
  const std::string v = std::to_string(seller_count), p = std::to_string(product_count);
  return {"OK: " + v + " vendedores, " + p + " produtos\n", "KAVCMD.TXT-" + v + "-vendedores-" + p + "-produtos"};
}

}  // namespace kav::webstub
