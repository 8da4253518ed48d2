// NumPy .npy format: magic, version, header length, a Python-dict header
// padded to a 64-byte boundary, then the raw elements.
#include "npy.h"

#include <cctype>
#include <fstream>
#include <limits>
#include <sstream>

namespace quarrow::models {

namespace {

const char kMagic[] = "\x93NUMPY";
constexpr size_t kMagicLength = 6;

struct TypeEntry {
  const char* descr;
  TF_DataType dtype;
  size_t size;
};
const TypeEntry kTypes[] = {
    {"<f4", TF_FLOAT, 4}, {"<f8", TF_DOUBLE, 8}, {"<i4", TF_INT32, 4},
    {"<i8", TF_INT64, 8}, {"|u1", TF_UINT8, 1},  {"|b1", TF_BOOL, 1},
};

const TypeEntry* find_type(TF_DataType dtype) {
  for (const TypeEntry& t : kTypes) {
    if (t.dtype == dtype) return &t;
  }
  return nullptr;
}

// The text after `'key':` in the header dict, with leading blanks skipped.
bool find_value(const std::string& header, const std::string& key, size_t* pos) {
  size_t k = header.find("'" + key + "'");
  if (k == std::string::npos) k = header.find("\"" + key + "\"");
  if (k == std::string::npos) return false;
  size_t p = header.find(':', k);
  if (p == std::string::npos) return false;
  ++p;
  while (p < header.size() && header[p] == ' ') ++p;
  *pos = p;
  return p < header.size();
}

bool parse_header(const std::string& header, NpyArray* out, size_t* item_size, std::string* error) {
  size_t p = 0;
  if (!find_value(header, "descr", &p) || (header[p] != '\'' && header[p] != '"')) {
    *error = "header has no 'descr'";
    return false;
  }
  const size_t end = header.find(header[p], p + 1);
  if (end == std::string::npos) {
    *error = "header 'descr' is not closed";
    return false;
  }
  std::string descr = header.substr(p + 1, end - p - 1);
  // NumPy writes one-byte types with '|', but '<' and '=' mean the same there.
  if (descr == "<u1" || descr == "=u1") descr = "|u1";
  if (descr == "<b1" || descr == "=b1") descr = "|b1";
  const TypeEntry* type = nullptr;
  for (const TypeEntry& t : kTypes) {
    if (descr == t.descr) type = &t;
  }
  if (type == nullptr) {
    *error = "unsupported element type '" + descr + "' (supported: <f4 <f8 <i4 <i8 |u1 |b1)";
    return false;
  }
  out->dtype = type->dtype;
  *item_size = type->size;

  if (!find_value(header, "fortran_order", &p)) {
    *error = "header has no 'fortran_order'";
    return false;
  }
  if (header.compare(p, 5, "False") != 0) {
    *error = "Fortran-ordered arrays are not supported";
    return false;
  }

  if (!find_value(header, "shape", &p) || header[p] != '(') {
    *error = "header has no 'shape'";
    return false;
  }
  const size_t close = header.find(')', p);
  if (close == std::string::npos) {
    *error = "header 'shape' is not closed";
    return false;
  }
  out->shape.clear();
  std::string dims = header.substr(p + 1, close - p - 1);
  std::stringstream in(dims);
  std::string item;
  while (std::getline(in, item, ',')) {
    size_t a = item.find_first_not_of(' ');
    if (a == std::string::npos) continue;  // trailing comma of "(3,)"
    size_t b = item.find_last_not_of(' ');
    const std::string digits = item.substr(a, b - a + 1);
    if (digits.empty() || digits.size() > 18) {
      *error = "bad dimension '" + digits + "'";
      return false;
    }
    for (char c : digits) {
      if (!std::isdigit(static_cast<unsigned char>(c))) {
        *error = "bad dimension '" + digits + "'";
        return false;
      }
    }
    out->shape.push_back(std::stoll(digits));
  }
  return true;
}

}  // namespace

int64_t NpyArray::num_elements() const {
  int64_t n = 1;
  for (int64_t d : shape) n *= d;
  return n;
}

std::string npy_descr(TF_DataType dtype) {
  const TypeEntry* t = find_type(dtype);
  return t == nullptr ? std::string() : std::string(t->descr);
}

bool parse_npy(const std::string& bytes, NpyArray* out, std::string* error) {
  if (bytes.size() < kMagicLength + 4 || bytes.compare(0, kMagicLength, kMagic) != 0) {
    *error = "not a .npy file (bad magic)";
    return false;
  }
  const auto major = static_cast<unsigned char>(bytes[6]);
  size_t header_len = 0, header_start = 0;
  if (major == 1) {
    header_len = static_cast<unsigned char>(bytes[8]) | (static_cast<size_t>(static_cast<unsigned char>(bytes[9])) << 8);
    header_start = 10;
  } else if (major == 2 || major == 3) {
    if (bytes.size() < 12) {
      *error = "truncated header";
      return false;
    }
    for (int k = 3; k >= 0; --k) header_len = (header_len << 8) | static_cast<unsigned char>(bytes[8 + k]);
    header_start = 12;
  } else {
    *error = "unsupported .npy version " + std::to_string(major);
    return false;
  }
  if (header_len > bytes.size() - header_start) {
    *error = "truncated header";
    return false;
  }
  const std::string header = bytes.substr(header_start, header_len);
  size_t item_size = 0;
  if (!parse_header(header, out, &item_size, error)) return false;

  // Guard the element count against overflow before trusting it.
  uint64_t count = 1;
  for (int64_t d : out->shape) {
    if (d != 0 && count > std::numeric_limits<uint64_t>::max() / static_cast<uint64_t>(d) / item_size) {
      *error = "array too large";
      return false;
    }
    count *= static_cast<uint64_t>(d);
  }
  const size_t data_start = header_start + header_len;
  const uint64_t want = count * item_size;
  if (bytes.size() - data_start != want) {
    *error = "data has " + std::to_string(bytes.size() - data_start) + " bytes, the header says " +
             std::to_string(want);
    return false;
  }
  out->data = bytes.substr(data_start);
  return true;
}

std::string serialize_npy(const NpyArray& array) {
  std::string header = "{'descr': '" + npy_descr(array.dtype) + "', 'fortran_order': False, 'shape': (";
  for (size_t k = 0; k < array.shape.size(); ++k) {
    if (k > 0) header += ", ";
    header += std::to_string(array.shape[k]);
  }
  if (array.shape.size() == 1) header += ",";  // "(3,)" is a tuple, "(3)" is not
  header += "), }";
  // Pad with blanks so the data starts on a 64-byte boundary; end with '\n'.
  const size_t total = 10 + header.size() + 1;
  header.append((64 - total % 64) % 64, ' ');
  header += '\n';
  std::string out(kMagic, kMagicLength);
  out += '\x01';
  out += '\x00';
  out += static_cast<char>(header.size() & 0xff);
  out += static_cast<char>((header.size() >> 8) & 0xff);
  out += header;
  out += array.data;
  return out;
}

bool read_npy(const std::string& path, NpyArray* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  if (!parse_npy(buffer.str(), out, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool write_npy(const std::string& path, const NpyArray& array, std::string* error) {
  if (npy_descr(array.dtype).empty()) {
    *error = path + ": element type " + std::to_string(static_cast<int>(array.dtype)) +
             " has no .npy form here";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string bytes = serialize_npy(array);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace quarrow::models
