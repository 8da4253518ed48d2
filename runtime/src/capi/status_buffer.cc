// TF_Status, TF_Buffer and the library version.
#include <cstdlib>
#include <cstring>

#include "capi/c_api_internal.h"

extern "C" {

TF_Status* TF_NewStatus(void) { return new TF_Status(); }

void TF_DeleteStatus(TF_Status* s) { delete s; }

void TF_SetStatus(TF_Status* s, TF_Code code, const char* msg) {
  if (s == nullptr) return;
  s->code = code;
  s->message = code == TF_OK || msg == nullptr ? std::string() : std::string(msg);
}

TF_Code TF_GetCode(const TF_Status* s) { return s == nullptr ? TF_OK : s->code; }

const char* TF_Message(const TF_Status* s) { return s == nullptr ? "" : s->message.c_str(); }

TF_Buffer* TF_NewBuffer(void) { return new TF_Buffer{nullptr, 0, nullptr}; }

static void free_buffer_data(void* data, size_t) { std::free(data); }

TF_Buffer* TF_NewBufferFromString(const void* proto, size_t proto_len) {
  TF_Buffer* buffer = TF_NewBuffer();
  if (proto_len == 0) return buffer;
  void* copy = std::malloc(proto_len);
  if (copy == nullptr) return buffer;
  if (proto != nullptr) std::memcpy(copy, proto, proto_len);
  buffer->data = copy;
  buffer->length = proto_len;
  buffer->data_deallocator = free_buffer_data;
  return buffer;
}

void TF_DeleteBuffer(TF_Buffer* buffer) {
  if (buffer == nullptr) return;
  if (buffer->data_deallocator != nullptr) {
    buffer->data_deallocator(const_cast<void*>(buffer->data), buffer->length);
  }
  delete buffer;
}

const char* TF_Version(void) { return "2.14.0"; }

}  // extern "C"
