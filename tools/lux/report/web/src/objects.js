// What stands in the room besides the calculation areas: furniture (the
// scene's occluders and meshes, grey by their reflectance), the luminaires
// as the openings they emit from, and the glare observers' eyes with their
// viewing directions.
import * as THREE from 'three';

// A surface of reflectance rho, drawn as a grey that keeps dark and light
// materials apart without competing with the false colours.
function greyOf(rho) {
  const g = 0.3 + 0.6 * Math.min(Math.max(rho, 0), 1);
  return new THREE.Color().setRGB(g, g, g, THREE.SRGBColorSpace);
}

const v3 = (a) => new THREE.Vector3(a[0], a[1], a[2]);

// A matrix placing a shape made in its own frame (axes x, y, z as given)
// at `center`.
function frameMatrix(center, axes) {
  const [x, y, z] = axes || [[1, 0, 0], [0, 1, 0], [0, 0, 1]];
  return new THREE.Matrix4().makeBasis(v3(x), v3(y), v3(z)).setPosition(v3(center));
}

function withEdges(mesh, colour, threshold = 20) {
  const edges = new THREE.LineSegments(
    new THREE.EdgesGeometry(mesh.geometry, threshold),
    new THREE.LineBasicMaterial({ color: colour }),
  );
  mesh.add(edges);
  return mesh;
}

function solidGeometry(item) {
  switch (item.kind) {
    case 'box': {
      const size = [0, 1, 2].map((k) => item.max[k] - item.min[k]);
      const g = new THREE.BoxGeometry(...size);
      g.translate(...[0, 1, 2].map((k) => (item.max[k] + item.min[k]) / 2));
      return g;
    }
    case 'sphere': {
      const g = new THREE.SphereGeometry(item.radius, 32, 16);
      g.translate(...item.center);
      return g;
    }
    case 'disc': {
      const g = new THREE.CircleGeometry(item.radius, 48);
      g.lookAt(v3(item.normal));
      g.translate(...item.center);
      return g;
    }
    case 'rectangle': {
      const [c, u, v] = [item.corner, item.u, item.v];
      const p = (s, t) => [0, 1, 2].map((k) => c[k] + u[k] * s + v[k] * t);
      const g = new THREE.BufferGeometry();
      g.setAttribute('position', new THREE.Float32BufferAttribute([...p(0, 0), ...p(1, 0), ...p(1, 1), ...p(0, 1)], 3));
      g.setIndex([0, 1, 2, 0, 2, 3]);
      g.computeVertexNormals();
      return g;
    }
    default:
      return null;
  }
}

function meshGeometry(item) {
  const { positions, triangles, reflectance } = item;
  const perFace = Array.isArray(reflectance);
  const g = new THREE.BufferGeometry();
  // Unshared corners: each face keeps its own normal and colour.
  const xyz = new Float32Array(triangles.length * 3);
  const rgb = perFace ? new Float32Array(triangles.length * 3) : null;
  const colour = new THREE.Color();
  for (let k = 0; k < triangles.length; ++k) {
    xyz.set(positions.slice(triangles[k] * 3, triangles[k] * 3 + 3), k * 3);
    if (perFace) {
      colour.copy(greyOf(reflectance[Math.floor(k / 3)]));
      rgb.set([colour.r, colour.g, colour.b], k * 3);
    }
  }
  g.setAttribute('position', new THREE.BufferAttribute(xyz, 3));
  if (perFace) g.setAttribute('color', new THREE.BufferAttribute(rgb, 3));
  g.computeVertexNormals();
  return g;
}

export function buildFurniture(list) {
  const group = new THREE.Group();
  for (const item of list) {
    const isMesh = item.kind === 'mesh';
    const geometry = isMesh ? meshGeometry(item) : solidGeometry(item);
    if (!geometry) continue;
    const perFace = isMesh && Array.isArray(item.reflectance);
    const material = new THREE.MeshLambertMaterial({
      color: perFace ? 0xffffff : greyOf(item.reflectance),
      vertexColors: perFace,
      side: THREE.DoubleSide,
      transparent: item.transparency > 0,
      opacity: 1 - 0.8 * (item.transparency || 0),
    });
    const mesh = new THREE.Mesh(geometry, material);
    mesh.userData.pick = { kind: 'furniture', name: item.name };
    withEdges(mesh, 0x4a5058, isMesh ? 40 : 20);
    group.add(mesh);
  }
  return group;
}

// One opening in its own frame: flat shapes lie in its x-y plane and emit
// towards -z, solids are centred on it.
function openingGeometry(o, pointRadius) {
  const [a, b, c] = o.size || [];
  switch (o.shape) {
    case 'rectangle':
      return new THREE.PlaneGeometry(a, b).rotateX(Math.PI);
    case 'disc':
      return new THREE.CircleGeometry(0.5, 48).scale(a, b, 1).rotateX(Math.PI);
    case 'sphere':
      return new THREE.SphereGeometry(0.5, 24, 12).scale(a, b, c);
    case 'cylinder':
      return new THREE.CylinderGeometry(0.5, 0.5, 1, 32).rotateX(Math.PI / 2).scale(a, b, c);
    case 'box':
      return new THREE.BoxGeometry(a, b, c);
    default:
      return new THREE.SphereGeometry(pointRadius, 16, 8);
  }
}

const glow = new THREE.Color().setRGB(1, 0.97, 0.86, THREE.SRGBColorSpace);

export function buildLuminaires(list, extent) {
  const group = new THREE.Group();
  const labels = [];
  const pointRadius = extent * 0.004;
  for (const l of list) {
    const luminaire = new THREE.Group();
    for (const o of l.openings) {
      const flat = o.shape === 'rectangle' || o.shape === 'disc';
      const mesh = new THREE.Mesh(
        openingGeometry(o, pointRadius),
        // The emitting side only for flat openings: seen from above (in
        // the plan) a panel is its outline, as on a drawing.
        new THREE.MeshBasicMaterial({ color: glow, side: flat ? THREE.FrontSide : THREE.DoubleSide }),
      );
      // A panel flush with the ceiling is lifted off it by a hair towards
      // the room, so that the ceiling's colours do not cover it.
      if (flat) mesh.geometry.translate(0, 0, -extent * 4e-4);
      mesh.applyMatrix4(frameMatrix(o.center, o.axes));
      mesh.userData.pick = { kind: 'luminaire', name: l.name, luminaire: l };
      withEdges(mesh, 0x2b2f36, 30);
      luminaire.add(mesh);
    }
    group.add(luminaire);
    labels.push({ text: l.name, position: v3(l.position), kind: 'luminaire' });
  }
  return { group, labels };
}

export function buildObservers(list, extent) {
  const group = new THREE.Group();
  const labels = [];
  const eye = extent * 0.005;
  const arrow = extent * 0.045;
  const accent = new THREE.Color().setRGB(0.76, 0.09, 0.36, THREE.SRGBColorSpace);
  for (const o of list) {
    // One group per observer, so that its own eye can be taken away when
    // the camera looks out of it.
    const marker = new THREE.Group();
    const ball = new THREE.Mesh(new THREE.SphereGeometry(eye, 20, 12), new THREE.MeshLambertMaterial({ color: accent }));
    ball.position.copy(v3(o.position));
    ball.userData.pick = { kind: 'observer', name: o.name, observer: o };
    marker.add(ball);
    for (const view of o.views)
      marker.add(new THREE.ArrowHelper(v3(view.direction), v3(o.position), arrow, accent, arrow * 0.25, arrow * 0.1));
    group.add(marker);
    const ratings = o.views.filter((v) => v.ugr !== null).map((v) => v.ugr.toFixed(1));
    labels.push({
      text: ratings.length ? `${o.name} (UGR ${ratings.join(' / ')})` : o.name,
      position: v3(o.position),
      kind: 'observer',
      marker,
    });
  }
  return { group, labels };
}
