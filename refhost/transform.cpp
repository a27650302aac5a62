// Transformations: 4×4 matrices acting on row vectors (p' = p · M, the
// translation in the last row), and the moves between internal space and
// the light's space of the light instance being shaded.
#include <cmath>
#include <cstring>

#include "refhost/internal.h"

namespace refhost {

Matrix identity() {
  Matrix m{};
  m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0f;
  return m;
}

Matrix translate(float x, float y, float z) {
  Matrix m = identity();
  m.m[12] = x;
  m.m[13] = y;
  m.m[14] = z;
  return m;
}

namespace {

Matrix rotation(int axis, double radians) {
  Matrix m = identity();
  const auto c = static_cast<float>(std::cos(radians));
  const auto s = static_cast<float>(std::sin(radians));
  const int i = (axis + 1) % 3;
  const int j = (axis + 2) % 3;
  // Row-vector convention: a positive angle turns i towards j.
  m.m[i * 4 + i] = c;
  m.m[i * 4 + j] = s;
  m.m[j * 4 + i] = -s;
  m.m[j * 4 + j] = c;
  return m;
}

}  // namespace

Matrix rotate_xyz(float x_deg, float y_deg, float z_deg) {
  constexpr double kDeg = 3.141592653589793 / 180.0;
  return multiply(multiply(rotation(0, x_deg * kDeg), rotation(1, y_deg * kDeg)),
                  rotation(2, z_deg * kDeg));
}

Matrix multiply(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0.0;
      for (int k = 0; k < 4; ++k) s += double(a.m[i * 4 + k]) * b.m[k * 4 + j];
      r.m[i * 4 + j] = static_cast<float>(s);
    }
  return r;
}

// Gauss-Jordan elimination with partial pivoting, in double precision.
bool invert_matrix(const float* in, float* out) {
  double a[4][8];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      a[i][j] = in[i * 4 + j];
      a[i][j + 4] = i == j ? 1.0 : 0.0;
    }
  for (int c = 0; c < 4; ++c) {
    int p = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    if (std::fabs(a[p][c]) < 1e-30) return false;
    if (p != c)
      for (int j = 0; j < 8; ++j) std::swap(a[p][j], a[c][j]);
    const double inv = 1.0 / a[c][c];
    for (int j = 0; j < 8; ++j) a[c][j] *= inv;
    for (int r = 0; r < 4; ++r)
      if (r != c) {
        const double f = a[r][c];
        for (int j = 0; j < 8; ++j) a[r][j] -= f * a[c][j];
      }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i * 4 + j] = static_cast<float>(a[i][j + 4]);
  return true;
}

Matrix inverse(const Matrix& a) {
  Matrix r = identity();
  invert_matrix(a.m, r.m);
  return r;
}

miVector transform_point(const miVector& p, const Matrix& m) {
  miVector r;
  mi_point_transform(&r, &p, m.m);
  return r;
}

miVector transform_vector(const miVector& v, const Matrix& m) {
  miVector r;
  mi_vector_transform(&r, &v, m.m);
  return r;
}

}  // namespace refhost

namespace {

miVector linear(const miVector& v, const float* m) {
  return {v.x * m[0] + v.y * m[4] + v.z * m[8], v.x * m[1] + v.y * m[5] + v.z * m[9],
          v.x * m[2] + v.y * m[6] + v.z * m[10]};
}

// Normals go through the inverse transpose: with the local-to-world matrix
// L, a world normal n becomes n · Lᵀ in light space.
miVector linear_transposed(const miVector& v, const float* m) {
  return {v.x * m[0] + v.y * m[1] + v.z * m[2], v.x * m[4] + v.y * m[5] + v.z * m[6],
          v.x * m[8] + v.y * m[9] + v.z * m[10]};
}

}  // namespace

extern "C" {

void mi_point_transform(miVector* out, const miVector* in, const float* m) {
  const miVector v = *in;
  const float w = v.x * m[3] + v.y * m[7] + v.z * m[11] + m[15];
  miVector r = linear(v, m);
  r.x += m[12];
  r.y += m[13];
  r.z += m[14];
  if (w != 1.0f && w != 0.0f) {
    r.x /= w;
    r.y /= w;
    r.z /= w;
  }
  *out = r;
}

void mi_vector_transform(miVector* out, const miVector* in, const float* m) {
  *out = linear(*in, m);
}

void mi_vector_to_light(miState* state, miVector* out, const miVector* in) {
  const float* m = refhost::detail::instance_world_to_local(state->light_instance);
  *out = m != nullptr ? linear(*in, m) : *in;
}

void mi_vector_from_light(miState* state, miVector* out, const miVector* in) {
  const float* m = refhost::detail::instance_local_to_world(state->light_instance);
  *out = m != nullptr ? linear(*in, m) : *in;
}

void mi_normal_to_light(miState* state, miVector* out, const miVector* in) {
  const float* m = refhost::detail::instance_local_to_world(state->light_instance);
  *out = m != nullptr ? linear_transposed(*in, m) : *in;
}

void mi_matrix_rotate(float* matrix, float x, float y, float z) {
  constexpr double kRadToDeg = 180.0 / 3.141592653589793;
  const refhost::Matrix r = refhost::rotate_xyz(float(x * kRadToDeg), float(y * kRadToDeg),
                                                float(z * kRadToDeg));
  std::memcpy(matrix, r.m, sizeof r.m);
}

miBoolean mi_matrix_invert(float* out, const float* in) {
  float tmp[16];
  if (!refhost::invert_matrix(in, tmp)) return 0;
  std::memcpy(out, tmp, sizeof tmp);
  return 1;
}

}  // extern "C"
