// The calculation areas in 3D: each a flat mesh over its outline whose
// shader colours every pixel from the area's lattice of values exactly as
// the false-colour maps do (bilinear between grid points, clamped at the
// border, the maps' ramp and iso-lux lines, masked cells grey and hatched),
// and the same interpolation in double precision for reading a value off.
import * as THREE from 'three';

const vertexShader = /* glsl */ `
in vec2 st;
out vec2 vSt;
void main() {
  vSt = st;
  gl_Position = projectionMatrix * modelViewMatrix * vec4(position, 1.0);
}
`;

const fragmentShader = /* glsl */ `
uniform highp sampler2D lattice;    // r: the value, g: the point's state (0, 1, 2)
uniform highp sampler2D rampTable;  // the ramp's colours at equal steps of t
uniform int rampSize;
uniform ivec2 size;                 // points along u and v
uniform vec2 cell;                  // the cell's edges along u and v
uniform float lo;
uniform float hi;
uniform float stepSize;             // between iso-lux levels
uniform bool iso;
uniform bool discardOutside;        // a band's hole is not part of it
in vec2 vSt;

float at(int i, int j) { return texelFetch(lattice, ivec2(i, j), 0).r; }

void main() {
  int nu = size.x;
  int nv = size.y;
  float x = clamp(vSt.x / cell.x - 0.5, 0.0, float(nu - 1));
  float y = clamp(vSt.y / cell.y - 0.5, 0.0, float(nv - 1));
  int i = min(int(x), max(nu - 2, 0));
  int j = min(int(y), max(nv - 2, 0));
  float fx = nu > 1 ? x - float(i) : 0.0;
  float fy = nv > 1 ? y - float(j) : 0.0;
  int i1 = min(i + 1, nu - 1);
  int j1 = min(j + 1, nv - 1);
  float e = mix(mix(at(i, j), at(i1, j), fx), mix(at(i, j1), at(i1, j1), fx), fy);

  float t = clamp((e - lo) / (hi - lo), 0.0, 1.0);
  float k = t * float(rampSize - 1);
  int k0 = min(int(k), rampSize - 2);
  vec3 c = mix(texelFetch(rampTable, ivec2(k0, 0), 0).rgb,
               texelFetch(rampTable, ivec2(k0 + 1, 0), 0).rgb, k - float(k0));

  // Iso-lux lines at the scale's inner levels, about a pixel wide whatever
  // the distance: the level index changes by fwidth(f) per pixel.
  float f = (e - lo) / stepSize;
  float w = fwidth(f);
  float n = floor(f + 0.5);
  float levels = floor((hi - lo) / stepSize + 0.5);
  if (iso && n >= 1.0 && n <= levels - 1.0 && w > 0.0) {
    float a = 1.0 - smoothstep(0.5, 1.1, abs(f - n) / w);
    c = mix(c, vec3(0.1), 0.75 * a);
  }

  ivec2 here = ivec2(clamp(int(floor(vSt.x / cell.x)), 0, nu - 1),
                     clamp(int(floor(vSt.y / cell.y)), 0, nv - 1));
  float state = texelFetch(lattice, here, 0).g;
  if (state > 1.5) {
    if (discardOutside) discard;
  } else if (state > 0.5) {
    c = fract((gl_FragCoord.x + gl_FragCoord.y) / 6.0) < 0.2 ? vec3(0.35) : vec3(0.72);
  }
  gl_FragColor = vec4(c, 1.0);
}
`;

const sub = (a, b) => [a[0] - b[0], a[1] - b[1], a[2] - b[2]];
const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
const norm = (a) => Math.hypot(a[0], a[1], a[2]);
const scaled = (a, s) => [a[0] * s, a[1] * s, a[2] * s];
const cross = (a, b) => [
  a[1] * b[2] - a[2] * b[1],
  a[2] * b[0] - a[0] * b[2],
  a[0] * b[1] - a[1] * b[0],
];

// The value of a lattice at fractional lattice coordinates: bilinear,
// clamped at the border, the maps' interpolation.
export function sampleLattice(values, nu, nv, x, y) {
  x = Math.min(Math.max(x, 0), nu - 1);
  y = Math.min(Math.max(y, 0), nv - 1);
  const i = Math.min(Math.floor(x), Math.max(nu - 2, 0));
  const j = Math.min(Math.floor(y), Math.max(nv - 2, 0));
  const fx = nu > 1 ? x - i : 0;
  const fy = nv > 1 ? y - j : 0;
  const at = (a, b) => values[Math.min(b, nv - 1) * nu + Math.min(a, nu - 1)];
  return (
    (at(i, j) * (1 - fx) + at(i + 1, j) * fx) * (1 - fy) +
    (at(i, j + 1) * (1 - fx) + at(i + 1, j + 1) * fx) * fy
  );
}

const STATES = ['counted', 'masked', 'outside'];

let rampTexture = null;
function rampTextureOf(ramp) {
  if (rampTexture) return rampTexture;
  const texels = new Float32Array(ramp.length * 4);
  ramp.forEach((c, k) => texels.set([c[0], c[1], c[2], 1], k * 4));
  rampTexture = new THREE.DataTexture(texels, ramp.length, 1, THREE.RGBAFormat, THREE.FloatType);
  rampTexture.needsUpdate = true;
  return rampTexture;
}

// One area of a lattice: a surface, or a task area or band on one.
export class LatticeArea {
  constructor(surface, index, data) {
    this.surface = surface;
    this.index = index;
    this.corner = surface.corner;
    this.width = norm(surface.u);
    this.height = norm(surface.v);
    this.eu = scaled(surface.u, 1 / this.width);
    this.ev = scaled(surface.v, 1 / this.height);
    this.nu = surface.nu;
    this.nv = surface.nv;
    this.du = this.width / this.nu;
    this.dv = this.height / this.nv;
    this.state = surface.state || null;
    this.textures = {};
    this.isSubArea = surface.role !== 'surface';
    const facingDown = surface.normal[2] < -0.7;
    this.isCeiling = surface.kind === 'reflecting' && facingDown;

    this.material = new THREE.ShaderMaterial({
      vertexShader,
      fragmentShader,
      uniforms: {
        lattice: { value: null },
        rampTable: { value: rampTextureOf(data.ramp) },
        rampSize: { value: data.ramp.length },
        size: { value: new THREE.Vector2(this.nu, this.nv) },
        cell: { value: new THREE.Vector2(this.du, this.dv) },
        lo: { value: 0 },
        hi: { value: 1 },
        stepSize: { value: 1 },
        iso: { value: true },
        discardOutside: { value: !surface.outline },
      },
      // A real surface is seen from the side it lights, so that from
      // outside the room one looks in through its walls; an imaginary
      // calculation plane from both.
      side: surface.kind === 'reflecting' ? THREE.FrontSide : THREE.DoubleSide,
      // An area drawn over what lies in its plane: a plinth's top over the
      // plinth, a task area and its bands over their surface. A constant
      // offset only: one growing with the slope would, at grazing angles,
      // pull a ceiling over the panels a hair below it.
      polygonOffset: true,
      polygonOffsetFactor: 0,
      polygonOffsetUnits: this.isSubArea ? -16 : -8,
    });
    this.mesh = new THREE.Mesh(this.geometry(), this.material);
    this.mesh.userData.pick = { kind: 'area', area: this };
    this.mesh.renderOrder = this.isSubArea ? 1 : 0;
    this.outline = this.outlineLines();
    this.outline.visible = false;
  }

  // Rings of the area in (s, t): its polygon outline and holes, or its
  // rectangle.
  rings() {
    if (this.surface.outline) return this.surface.outline;
    return [[[0, 0], [this.width, 0], [this.width, this.height], [0, this.height]]];
  }

  at(s, t) {
    const c = this.corner;
    return [
      c[0] + this.eu[0] * s + this.ev[0] * t,
      c[1] + this.eu[1] * s + this.ev[1] * t,
      c[2] + this.eu[2] * s + this.ev[2] * t,
    ];
  }

  geometry() {
    const [outer, ...holes] = this.rings();
    const shape = new THREE.Shape(outer.map(([s, t]) => new THREE.Vector2(s, t)));
    for (const hole of holes) shape.holes.push(new THREE.Path(hole.map(([s, t]) => new THREE.Vector2(s, t))));
    const flat = new THREE.ShapeGeometry(shape);
    const st = flat.getAttribute('position');
    const positions = new Float32Array(st.count * 3);
    const coords = new Float32Array(st.count * 2);
    for (let k = 0; k < st.count; ++k) {
      const s = st.getX(k);
      const t = st.getY(k);
      positions.set(this.at(s, t), k * 3);
      coords.set([s, t], k * 2);
    }
    const g = new THREE.BufferGeometry();
    g.setAttribute('position', new THREE.BufferAttribute(positions, 3));
    g.setAttribute('st', new THREE.BufferAttribute(coords, 2));
    // The triangles run counter-clockwise about u x v; their front is to
    // face the side the area receives light on.
    const index = Array.from(flat.getIndex().array);
    if (dot(cross(this.eu, this.ev), this.surface.normal) < 0)
      for (let k = 0; k < index.length; k += 3) [index[k + 1], index[k + 2]] = [index[k + 2], index[k + 1]];
    g.setIndex(index);
    g.computeBoundingSphere();
    flat.dispose();
    return g;
  }

  // The outline as lines a hair in front of the area, for the selection.
  outlineLines() {
    const lift = scaled(this.surface.normal, Math.max(this.width, this.height) * 2e-3);
    const points = [];
    for (const ring of this.rings())
      for (let k = 0; k < ring.length; ++k) {
        const a = this.at(...ring[k]);
        const b = this.at(...ring[(k + 1) % ring.length]);
        points.push(a[0] + lift[0], a[1] + lift[1], a[2] + lift[2]);
        points.push(b[0] + lift[0], b[1] + lift[1], b[2] + lift[2]);
      }
    const g = new THREE.BufferGeometry();
    g.setAttribute('position', new THREE.Float32BufferAttribute(points, 3));
    const lines = new THREE.LineSegments(
      g,
      new THREE.LineBasicMaterial({ color: 0xc2185b, depthTest: false, transparent: true }),
    );
    lines.renderOrder = 10;
    return lines;
  }

  texture(quantity) {
    if (this.textures[quantity]) return this.textures[quantity];
    const values = this.surface.values[quantity];
    const texels = new Float32Array(this.nu * this.nv * 2);
    for (let p = 0; p < values.length; ++p) {
      texels[2 * p] = values[p];
      texels[2 * p + 1] = this.state ? Number(this.state[p]) : 0;
    }
    const t = new THREE.DataTexture(texels, this.nu, this.nv, THREE.RGFormat, THREE.FloatType);
    t.needsUpdate = true;
    this.textures[quantity] = t;
    return t;
  }

  show(quantity, scale, iso) {
    const u = this.material.uniforms;
    u.lattice.value = this.texture(quantity);
    u.lo.value = scale.lo;
    u.hi.value = scale.hi;
    u.stepSize.value = scale.step;
    u.iso.value = iso;
  }

  // What the area says at a point of space on it: its (s, t), the values
  // of every quantity there, and the state of the point's cell.
  read(point) {
    const d = sub(point, this.corner);
    const s = dot(d, this.eu);
    const t = dot(d, this.ev);
    const x = s / this.du - 0.5;
    const y = t / this.dv - 0.5;
    const values = {};
    for (const [q, lattice] of Object.entries(this.surface.values))
      values[q] = sampleLattice(lattice, this.nu, this.nv, x, y);
    const i = Math.min(Math.max(Math.floor(s / this.du), 0), this.nu - 1);
    const j = Math.min(Math.max(Math.floor(t / this.dv), 0), this.nv - 1);
    const state = this.state ? STATES[Number(this.state[j * this.nu + i])] : 'counted';
    return { s, t, values, state, point: this.at(s, t) };
  }
}

// A list of measuring points: a small ball at each, in the colour of its
// value.
export class PointList {
  constructor(surface, index, radius) {
    this.surface = surface;
    this.index = index;
    this.isSubArea = false;
    this.isCeiling = false;
    const ball = new THREE.SphereGeometry(radius, 12, 8);
    this.mesh = new THREE.InstancedMesh(ball, new THREE.MeshBasicMaterial(), surface.points.length);
    const m = new THREE.Matrix4();
    surface.points.forEach((p, k) => this.mesh.setMatrixAt(k, m.makeTranslation(p[0], p[1], p[2])));
    this.mesh.userData.pick = { kind: 'points', area: this };
    this.outline = new THREE.Group();
  }

  show(quantity, scale, _iso, ramp, rampColourOf) {
    const colour = new THREE.Color();
    this.surface.values[quantity].forEach((v, k) => {
      const [r, g, b] = rampColourOf(ramp, (v - scale.lo) / (scale.hi - scale.lo));
      this.mesh.setColorAt(k, colour.setRGB(r, g, b, THREE.SRGBColorSpace));
    });
    this.mesh.instanceColor.needsUpdate = true;
  }

  readPoint(k) {
    const values = {};
    for (const [q, list] of Object.entries(this.surface.values)) values[q] = list[k];
    return { values, state: 'counted', point: this.surface.points[k], label: this.surface.labels[k] };
  }
}
