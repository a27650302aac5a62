/* The host renderer's shader API as this library sees it.
 *
 * This header is the one place that knows the host's records, codes and
 * calls. It is plain C so that host and shaders agree on every byte; the
 * reference host implements the same declarations. */
#ifndef ZEL_HOST_SHADER_API_H
#define ZEL_HOST_SHADER_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define MI_CALL __cdecl
#else
#define MI_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t miBoolean; /* 0 or 1, 32 bits wide in every record */
typedef int32_t miInteger;
typedef float miScalar;
typedef uint32_t miTag; /* database handle; 0 means none */
typedef float miMatrix[16];

typedef struct miColor {
  float r, g, b, a;
} miColor;

typedef struct miVector {
  float x, y, z;
} miVector;

/* The host's lock value: 64 bits the host interprets as it likes. */
typedef struct miLock {
  uint64_t word;
} miLock;

/* The running shader's record. The host keeps one per shader instance; the
 * library reads only the two fields of the parameter reading rule. */
typedef struct miFunction {
  miTag decl;                  /* the shader's declaration */
  int32_t connection_offset;   /* byte distance from a parameter to its slot */
  uint8_t has_connections;     /* 1: some parameter may be connected */
  uint8_t reserved[3];
} miFunction;

/* The host's light profile record as mi_api_lightprofile_begin hands it
 * out: the 32-bit fields the library fills. What the four settings mean is
 * the host's. */
typedef struct miLightprofile {
  int32_t reserved;        /*  0 */
  miInteger format;        /*  4 format code, see miLightProfileFormat */
  miInteger source;        /*  8 1: the data lies in the file named at 16 */
  miInteger setting_12;    /* 12 */
  miTag file_name;         /* 16 string element holding the file name */
  miInteger setting_20;    /* 20 */
  miInteger setting_24;    /* 24 */
  miInteger setting_28;    /* 28 */
} miLightprofile;

/* What a probe ray found. */
typedef struct miProbe {
  double dist; /* distance along the probe direction to the hit */
  miTag instance;
  miVector point;
} miProbe;

/* The shader state: one per render thread and call. */
typedef struct miState {
  int32_t type;          /* ray type, see miRayType */
  miVector org;          /* ray origin, internal space */
  miVector dir;          /* ray direction, internal space */
  double dist;           /* ray length */
  miVector point;        /* intersection point */
  miVector normal;       /* surface normal at the point */
  miTag light_instance;  /* light instance being shaded */
  void* pri;             /* primitive reference of the ray's start */
  miProbe probe;         /* result of the last mi_trace_probe */
  miFunction* shader;    /* the running shader's record */
  int32_t thread;        /* render thread number */
  void* host;            /* host-private per-thread context */
} miState;

/* Ray types the library tells apart. */
enum miRayType {
  miRAY_EYE = 0,
  miRAY_LIGHT = 4,
  miRAY_PHOTON_FIRST = 8,
  miRAY_PHOTON_LAST = 15,
  miRAY_PHOTON_A = 18,
  miRAY_PHOTON_B = 19,
  miRAY_PHOTON_C = 23,
  miRAY_PHOTON_D = 24,
  miRAY_PHOTON_E = 27
};

/* Query codes of mi_query. */
enum miQueryCode {
  miQ_INST_ITEM = 7,          /* item of an instance */
  miQ_GROUP_NKIDS = 14,       /* member count of a group */
  miQ_GROUP_KID = 15,         /* member by index (fifth argument) */
  miQ_LIGHT_ORIGIN = 31,      /* miVector */
  miQ_LIGHT_TYPE = 23,        /* int */
  miQ_LIGHT_AREA = 24,        /* int shape code */
  miQ_LIGHT_EXP = 25,         /* float decay exponent */
  miQ_LIGHT_ENERGY = 28,      /* miColor */
  miQ_LIGHT_DIRECTION = 32,   /* miVector spot direction */
  miQ_LIGHT_SPREAD = 40,      /* float cosine of the spot cone */
  miQ_LIGHT_AREA_R_EDGE_U = 33,
  miQ_LIGHT_AREA_R_EDGE_V = 34,
  miQ_LIGHT_AREA_D_NORMAL = 35,
  miQ_LIGHT_AREA_D_RADIUS = 36,
  miQ_LIGHT_AREA_S_RADIUS = 37,
  miQ_LIGHT_AREA_C_RADIUS = 96,
  miQ_LIGHT_AREA_C_AXIS = 97,
  miQ_INST_GLOBAL_TO_LOCAL = 5, /* pointer to the instance's matrix */
  miQ_FUNC_USERPTR = 51,      /* address of the instance's user pointer */
  miQ_INST_FLAG = 90,         /* an instance's flag */
  miQ_LIGHT_OBJ_AREA = 125,   /* float area of an object light */
  miQ_LIGHTPROFILE_MAXVAL = 132, /* float reference intensity, candela */
  miQ_NAME_BASE = 141         /* tag whose name is the base name */
};

/* Database type codes of mi_db_type. */
enum miDbType {
  miSCENE_NONE = 0,
  miSCENE_OBJECT = 7,
  miSCENE_INSTANCE = 10,
  miSCENE_GROUP = 11,
  miSCENE_LIGHT = 12,    /* this host's code for a light */
  miSCENE_FUNCTION = 13, /* this host's code for a shader instance */
  miSCENE_STRING = 29,
  miSCENE_LIGHTPROFILE = 44
};

/* Emitter shape codes of query 24. */
enum miLightArea {
  miLIGHT_NONE = 0,
  miLIGHT_RECTANGLE = 1,
  miLIGHT_DISC = 2,
  miLIGHT_SPHERE = 3,
  miLIGHT_CYLINDER = 4,
  miLIGHT_OBJECT = 5
};

/* Light type codes of query 23. */
enum miLightType { miLIGHT_POINT = 0, miLIGHT_DIRECTIONAL = 1, miLIGHT_SPOT = 2 };

/* Light profile format codes (second 32-bit word of a profile record). */
enum miLightProfileFormat { miLP_STD_IES = 1, miLP_STD_EULUMDAT = 2 };

/* ---- host calls ---------------------------------------------------------- */

/* Queries; codes 15, 152 and 163 take a 32-bit fifth argument. */
miBoolean MI_CALL mi_query(int code, miState* state, miTag tag, void* result, ...);
void* MI_CALL mi_phen_eval(miState* state, void* parameter);

int MI_CALL mi_db_type(miTag tag);
void* MI_CALL mi_db_access(miTag tag);
void MI_CALL mi_db_unpin(miTag tag);
void* MI_CALL mi_db_create(miTag* tag, int type, int size);

void* MI_CALL mi_mem_int_allocate(const char* file, int line, size_t size);
void MI_CALL mi_mem_int_release(const char* file, int line, void* block);
char* MI_CALL mi_mem_int_strdup(const char* file, int line, const char* text);

void MI_CALL mi_warning(const char* format, ...);
void MI_CALL mi_error(const char* format, ...);

miTag MI_CALL mi_api_name_lookup(char* name);
miTag MI_CALL mi_api_lightprofile_lookup(char* name);
char* MI_CALL mi_api_tag_lookup(miTag tag);
miBoolean MI_CALL mi_api_incremental(miBoolean on);
void* MI_CALL mi_api_light_begin(char* name);
miTag MI_CALL mi_api_light_end(void);
void* MI_CALL mi_api_instance_begin(char* name);
miTag MI_CALL mi_api_instance_end(char* item_name, miTag function, miTag param);
void* MI_CALL mi_api_lightprofile_begin(char* name);
miTag MI_CALL mi_api_lightprofile_end(void);
miBoolean MI_CALL mi_api_scope_begin(char* name);
miBoolean MI_CALL mi_api_scope_end(void);
char* MI_CALL mi_api_scope_apply(char* name);
miBoolean MI_CALL mi_geoshader_add_result(void* result, miTag item);

miBoolean MI_CALL mi_sample(double* sample, int* instance, miState* state, int dimension,
                            unsigned int* n);
miBoolean MI_CALL mi_trace_shadow(miColor* transmission, miState* state);
miBoolean MI_CALL mi_trace_probe(miState* state, const miVector* direction,
                                 const miVector* origin);
miBoolean MI_CALL mi_photon_light(miColor* energy, miState* state);
miBoolean MI_CALL mi_scattering_dir_diffuse(miVector* direction, miState* state);
miScalar MI_CALL mi_lightprofile_sample(miState* state, miTag profile, miBoolean relative);
miBoolean MI_CALL mi_colorprofile_ciexyz_to_render(miColor* color);

void MI_CALL mi_vector_to_light(miState* state, miVector* out, const miVector* in);
void MI_CALL mi_vector_from_light(miState* state, miVector* out, const miVector* in);
void MI_CALL mi_normal_to_light(miState* state, miVector* out, const miVector* in);
void MI_CALL mi_point_transform(miVector* out, const miVector* in, const float* matrix);
void MI_CALL mi_vector_transform(miVector* out, const miVector* in, const float* matrix);
void MI_CALL mi_matrix_rotate(float* matrix, float x, float y, float z);
miBoolean MI_CALL mi_matrix_invert(float* out, const float* in);

void MI_CALL mi_init_lock(miLock* lock);
void MI_CALL mi_lock(miLock lock);
void MI_CALL mi_unlock(miLock lock);
void MI_CALL mi_delete_lock(miLock* lock);

#ifdef __cplusplus
}
#endif

#endif
