/* The subset of TensorFlow's C API that quarrow's built-in runtime provides.
 *
 * Names, signatures, enum values and struct layouts match TensorFlow's own
 * headers, so code written against this file also builds and links against a
 * real TensorFlow C library (see runtime/README.md). */
#ifndef TENSORFLOW_C_C_API_H_
#define TENSORFLOW_C_C_API_H_

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TF_CAPI_EXPORT __declspec(dllexport)
#else
#define TF_CAPI_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Data types (values as in TensorFlow's types.proto) ---- */
typedef enum TF_DataType {
  TF_FLOAT = 1,
  TF_DOUBLE = 2,
  TF_INT32 = 3,
  TF_UINT8 = 4,
  TF_INT16 = 5,
  TF_INT8 = 6,
  TF_STRING = 7,
  TF_COMPLEX64 = 8,
  TF_COMPLEX = 8,
  TF_INT64 = 9,
  TF_BOOL = 10,
  TF_QINT8 = 11,
  TF_QUINT8 = 12,
  TF_QINT32 = 13,
  TF_BFLOAT16 = 14,
  TF_QINT16 = 15,
  TF_QUINT16 = 16,
  TF_UINT16 = 17,
  TF_COMPLEX128 = 18,
  TF_HALF = 19,
  TF_RESOURCE = 20,
  TF_VARIANT = 21,
  TF_UINT32 = 22,
  TF_UINT64 = 23,
  TF_FLOAT8_E5M2 = 24,
  TF_FLOAT8_E4M3FN = 25
} TF_DataType;

/* Size in bytes of one element, 0 for variable-length types. */
TF_CAPI_EXPORT extern size_t TF_DataTypeSize(TF_DataType dt);

/* ---- Status ---- */
typedef enum TF_Code {
  TF_OK = 0,
  TF_CANCELLED = 1,
  TF_UNKNOWN = 2,
  TF_INVALID_ARGUMENT = 3,
  TF_DEADLINE_EXCEEDED = 4,
  TF_NOT_FOUND = 5,
  TF_ALREADY_EXISTS = 6,
  TF_PERMISSION_DENIED = 7,
  TF_UNAUTHENTICATED = 16,
  TF_RESOURCE_EXHAUSTED = 8,
  TF_FAILED_PRECONDITION = 9,
  TF_ABORTED = 10,
  TF_OUT_OF_RANGE = 11,
  TF_UNIMPLEMENTED = 12,
  TF_INTERNAL = 13,
  TF_UNAVAILABLE = 14,
  TF_DATA_LOSS = 15
} TF_Code;

typedef struct TF_Status TF_Status;

TF_CAPI_EXPORT extern TF_Status* TF_NewStatus(void);
TF_CAPI_EXPORT extern void TF_DeleteStatus(TF_Status*);
TF_CAPI_EXPORT extern void TF_SetStatus(TF_Status* s, TF_Code code, const char* msg);
TF_CAPI_EXPORT extern TF_Code TF_GetCode(const TF_Status* s);
TF_CAPI_EXPORT extern const char* TF_Message(const TF_Status* s);

/* ---- Buffers ---- */
typedef struct TF_Buffer {
  const void* data;
  size_t length;
  void (*data_deallocator)(void* data, size_t length);
} TF_Buffer;

TF_CAPI_EXPORT extern TF_Buffer* TF_NewBuffer(void);
TF_CAPI_EXPORT extern TF_Buffer* TF_NewBufferFromString(const void* proto, size_t proto_len);
TF_CAPI_EXPORT extern void TF_DeleteBuffer(TF_Buffer*);

/* ---- Tensors ---- */
typedef struct TF_Tensor TF_Tensor;

TF_CAPI_EXPORT extern TF_Tensor* TF_NewTensor(
    TF_DataType, const int64_t* dims, int num_dims, void* data, size_t len,
    void (*deallocator)(void* data, size_t len, void* arg),
    void* deallocator_arg);
TF_CAPI_EXPORT extern TF_Tensor* TF_AllocateTensor(TF_DataType,
                                                   const int64_t* dims,
                                                   int num_dims, size_t len);
TF_CAPI_EXPORT extern void TF_DeleteTensor(TF_Tensor*);
TF_CAPI_EXPORT extern TF_DataType TF_TensorType(const TF_Tensor*);
TF_CAPI_EXPORT extern int TF_NumDims(const TF_Tensor*);
TF_CAPI_EXPORT extern int64_t TF_Dim(const TF_Tensor* tensor, int dim_index);
TF_CAPI_EXPORT extern size_t TF_TensorByteSize(const TF_Tensor*);
TF_CAPI_EXPORT extern void* TF_TensorData(const TF_Tensor*);

/* ---- Library version ---- */
TF_CAPI_EXPORT extern const char* TF_Version(void);

/* ---- Session options ---- */
typedef struct TF_SessionOptions TF_SessionOptions;

TF_CAPI_EXPORT extern TF_SessionOptions* TF_NewSessionOptions(void);
TF_CAPI_EXPORT extern void TF_SetConfig(TF_SessionOptions* options,
                                        const void* proto, size_t proto_len,
                                        TF_Status* status);
TF_CAPI_EXPORT extern void TF_DeleteSessionOptions(TF_SessionOptions*);

/* ---- Graphs and operations ---- */
typedef struct TF_Graph TF_Graph;
typedef struct TF_Operation TF_Operation;

typedef struct TF_Input {
  TF_Operation* oper;
  int index;
} TF_Input;

typedef struct TF_Output {
  TF_Operation* oper;
  int index;
} TF_Output;

TF_CAPI_EXPORT extern TF_Graph* TF_NewGraph(void);
/* The graph is freed once no session refers to it any more. */
TF_CAPI_EXPORT extern void TF_DeleteGraph(TF_Graph*);
TF_CAPI_EXPORT extern TF_Operation* TF_GraphOperationByName(
    TF_Graph* graph, const char* oper_name);
TF_CAPI_EXPORT extern const char* TF_OperationName(TF_Operation* oper);

/* ---- Sessions ---- */
typedef struct TF_Session TF_Session;

TF_CAPI_EXPORT extern TF_Session* TF_LoadSessionFromSavedModel(
    const TF_SessionOptions* session_options, const TF_Buffer* run_options,
    const char* export_dir, const char* const* tags, int tags_len,
    TF_Graph* graph, TF_Buffer* meta_graph_def, TF_Status* status);

TF_CAPI_EXPORT extern void TF_SessionRun(
    TF_Session* session, const TF_Buffer* run_options,
    const TF_Output* inputs, TF_Tensor* const* input_values, int ninputs,
    const TF_Output* outputs, TF_Tensor** output_values, int noutputs,
    const TF_Operation* const* target_opers, int ntargets,
    TF_Buffer* run_metadata, TF_Status*);

TF_CAPI_EXPORT extern void TF_CloseSession(TF_Session*, TF_Status* status);
TF_CAPI_EXPORT extern void TF_DeleteSession(TF_Session*, TF_Status* status);

#ifdef __cplusplus
} /* end extern "C" */
#endif

#endif /* TENSORFLOW_C_C_API_H_ */
