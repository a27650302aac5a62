// The 3D view: the scene, its cameras and their presets, orbit, pan and
// zoom, drawing only when something changed, pointing at a surface to read
// its illuminance, and the names floating over luminaires and observers.
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import { rampColour } from './colour.js';
import { buildFurniture, buildLuminaires, buildObservers } from './objects.js';
import { LatticeArea, PointList } from './surfaces.js';

const v3 = (a) => new THREE.Vector3(a[0], a[1], a[2]);

export const MANY_LUMINAIRES = 40;

// A horizontal direction as a reader of a plan names it: north is +y, as
// the room's north wall lies at its largest y.
function bearing(d) {
  const degrees = (THREE.MathUtils.radToDeg(Math.atan2(d[0], d[1])) + 360) % 360;
  const names = ['north', 'north-east', 'east', 'south-east', 'south', 'south-west', 'west', 'north-west'];
  const k = Math.round(degrees / 45) % 8;
  return Math.abs(degrees - Math.round(degrees / 45) * 45) < 0.5 ? names[k] : `${degrees.toFixed(0)}\u00b0`;
}

export class Viewer {
  constructor(canvas, data, events) {
    this.data = data;
    this.canvas = canvas;
    this.events = events;
    this.quantity = data.quantities[0];
    this.scaleMode = 'common';
    this.iso = true;
    this.selected = null;

    this.renderer = new THREE.WebGLRenderer({ canvas, antialias: true });
    this.renderer.setPixelRatio(window.devicePixelRatio || 1);
    this.renderer.setClearColor(0xe9edf1);
    this.scene = new THREE.Scene();

    const lo = v3(data.bounds.min);
    const hi = v3(data.bounds.max);
    this.box = new THREE.Box3(lo, hi);
    this.centre = this.box.getCenter(new THREE.Vector3());
    this.extent = Math.max(hi.clone().sub(lo).length(), 1e-6);

    // Soft light from above and a low sun, so that the furniture's sides
    // read apart; the false colours are not lit.
    this.scene.add(new THREE.HemisphereLight(0xffffff, 0x9aa0a8, 2.2));
    const sun = new THREE.DirectionalLight(0xffffff, 1.4);
    sun.position.set(-0.5, -0.8, 1.2);
    this.scene.add(sun);

    this.areas = data.surfaces.map((s, k) =>
      s.kind === 'points' ? new PointList(s, k, this.extent * 0.004) : new LatticeArea(s, k, data),
    );
    for (const a of this.areas) {
      a.mesh.visible = !a.isSubArea;
      this.scene.add(a.mesh);
      this.scene.add(a.outline);
    }
    this.furniture = buildFurniture(data.furniture);
    const luminaires = buildLuminaires(data.luminaires, this.extent);
    const observers = buildObservers(data.observers, this.extent);
    this.luminaires = luminaires.group;
    this.observers = observers.group;
    this.scene.add(this.furniture, this.luminaires, this.observers);
    this.layers = {
      furniture: this.furniture,
      luminaires: this.luminaires,
      observers: this.observers,
    };
    // Names over a few dozen luminaires say more than they hide; over a
    // hall's hundred they only hide it, until asked for.
    this.labelsOn = data.luminaires.length <= MANY_LUMINAIRES;
    this.labels = [...luminaires.labels, ...observers.labels].map((l) => {
      const el = document.createElement('div');
      el.className = `label ${l.kind}`;
      el.textContent = l.text;
      document.getElementById('labels').appendChild(el);
      return { ...l, el };
    });

    this.perspective = new THREE.PerspectiveCamera(50, 1, this.extent * 1e-3, this.extent * 20);
    this.orthographic = new THREE.OrthographicCamera(-1, 1, 1, -1, this.extent * 1e-3, this.extent * 20);
    for (const c of [this.perspective, this.orthographic]) c.up.set(0, 0, 1);
    this.camera = this.perspective;
    this.controls = new OrbitControls(this.camera, canvas);
    this.controls.addEventListener('change', () => this.requestRender());
    this.controls.screenSpacePanning = true;
    this.controls.listenToKeyEvents(window);

    this.raycaster = new THREE.Raycaster();
    this.presets = this.makePresets();
    this.applyQuantity();
    new ResizeObserver(() => this.resize()).observe(canvas);
    this.resize();
    this.applyPreset('overview');

    canvas.addEventListener('pointermove', (e) => this.hover(e));
    canvas.addEventListener('pointerleave', () => this.events.onHover(null));
    let down = null;
    canvas.addEventListener('pointerdown', (e) => (down = [e.clientX, e.clientY]));
    canvas.addEventListener('pointerup', (e) => {
      // A click, not the end of a drag, selects what is under the pointer.
      if (down && Math.hypot(e.clientX - down[0], e.clientY - down[1]) < 4) {
        const hit = this.pick(e.clientX, e.clientY);
        if (hit && hit.area) this.events.onSelect(hit.area.index);
      }
      down = null;
    });
  }

  // ---- drawing ------------------------------------------------------------

  requestRender() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.render();
    });
  }

  render() {
    this.renderer.render(this.scene, this.camera);
    this.placeLabels();
  }

  resize() {
    const w = this.canvas.clientWidth || 1;
    const h = this.canvas.clientHeight || 1;
    this.renderer.setSize(w, h, false);
    this.perspective.aspect = w / h;
    this.perspective.updateProjectionMatrix();
    this.fitOrthographic();
    this.render();
  }

  // Names over their objects, leaving out those that would cover one
  // already placed (nearest first).
  placeLabels() {
    const w = this.canvas.clientWidth;
    const h = this.canvas.clientHeight;
    const placed = [];
    const order = this.labels
      .map((l) => ({ l, d: l.position.distanceToSquared(this.camera.position) }))
      .sort((a, b) => a.d - b.d);
    for (const { l } of order) {
      const layer = l.kind === 'observer' ? this.observers : this.luminaires;
      const p = l.position.clone().project(this.camera);
      const x = (p.x * 0.5 + 0.5) * w;
      const y = (0.5 - p.y * 0.5) * h;
      const inView = p.z < 1 && p.z > -1 && x >= 0 && x <= w && y >= 0 && y <= h;
      let show = this.labelsOn && layer.visible && (!l.marker || l.marker.visible) && inView;
      if (show) {
        const half = l.text.length * 3.3 + 6;
        const box = [x - half, y - 24, x + half, y - 6];
        show = !placed.some((o) => box[0] < o[2] && o[0] < box[2] && box[1] < o[3] && o[1] < box[3]);
        if (show) placed.push(box);
      }
      l.el.style.display = show ? '' : 'none';
      if (show) l.el.style.transform = `translate(${x.toFixed(1)}px, ${y.toFixed(1)}px) translate(-50%, -130%)`;
    }
  }

  // ---- what is shown ------------------------------------------------------

  scaleOf(area) {
    return this.scaleMode === 'own' ? area.surface.scales[this.quantity] : this.data.scales[this.quantity];
  }

  applyQuantity() {
    for (const a of this.areas) a.show(this.quantity, this.scaleOf(a), this.iso, this.data.ramp, rampColour);
    this.requestRender();
  }

  setQuantity(q) {
    this.quantity = q;
    this.applyQuantity();
  }

  setScaleMode(mode) {
    this.scaleMode = mode;
    this.applyQuantity();
  }

  setIso(on) {
    this.iso = on;
    this.applyQuantity();
  }

  setAreaVisible(index, on) {
    this.areas[index].mesh.visible = on;
    this.requestRender();
  }

  setLayerVisible(name, on) {
    if (name === 'labels') this.labelsOn = on;
    else this.layers[name].visible = on;
    this.requestRender();
  }

  select(index) {
    if (this.selected !== null) this.areas[this.selected].outline.visible = false;
    this.selected = index;
    if (index !== null) this.areas[index].outline.visible = true;
    this.requestRender();
  }

  // ---- cameras ------------------------------------------------------------

  makePresets() {
    const presets = [
      { id: 'overview', label: '3D' },
      { id: 'plan', label: 'Plan' },
    ];
    if (this.data.view) presets.push({ id: 'view', label: 'Scene camera' });
    this.data.observers.forEach((o, k) =>
      o.views.forEach((view, m) =>
        presets.push({ id: `observer:${k}:${m}`, label: `${o.name} \u2192 ${bearing(view.direction)}`, observer: k, view: m }),
      ),
    );
    return presets;
  }

  fitOrthographic() {
    const size = this.box.getSize(new THREE.Vector3());
    const aspect = this.perspective.aspect;
    const half = Math.max(size.x / 2 / aspect, size.y / 2) * 1.08;
    Object.assign(this.orthographic, { left: -half * aspect, right: half * aspect, top: half, bottom: -half });
    this.orthographic.updateProjectionMatrix();
  }

  // The distance from `target` along `from` at which every corner of the
  // scene's box lies inside the perspective camera's field, with a margin:
  // the room fills the view whatever its proportions.
  fittingDistance(target, from) {
    const up = new THREE.Vector3(0, 0, 1);
    const right = new THREE.Vector3().crossVectors(up, from).normalize();
    const upward = new THREE.Vector3().crossVectors(from, right);
    const tanV = Math.tan(THREE.MathUtils.degToRad(this.perspective.fov) / 2);
    const tanH = tanV * this.perspective.aspect;
    let distance = 0;
    for (let k = 0; k < 8; ++k) {
      const corner = new THREE.Vector3(
        k & 1 ? this.box.max.x : this.box.min.x,
        k & 2 ? this.box.max.y : this.box.min.y,
        k & 4 ? this.box.max.z : this.box.min.z,
      ).sub(target);
      const depth = corner.dot(from);
      distance = Math.max(distance, depth + Math.abs(corner.dot(right)) / tanH, depth + Math.abs(corner.dot(upward)) / tanV);
    }
    return Math.max(distance * 1.08, this.extent * 1e-3);
  }

  use(camera) {
    this.camera = camera;
    this.controls.object = camera;
  }

  applyPreset(id) {
    const preset = this.presets.find((p) => p.id === id);
    if (!preset) return;
    const size = this.box.getSize(new THREE.Vector3());
    if (id === 'plan') {
      // Straight down, north up; a hair to the south so that "up" on the
      // screen is +y.
      this.use(this.orthographic);
      this.orthographic.zoom = 1;
      this.fitOrthographic();
      const target = new THREE.Vector3(this.centre.x, this.centre.y, this.box.min.z);
      this.camera.position.set(target.x, target.y - this.extent * 1e-4, this.box.max.z + this.extent);
      this.controls.target.copy(target);
    } else if (id === 'overview') {
      this.use(this.perspective);
      this.perspective.fov = 45;
      // From the south-west and above, the room's longer side across the
      // screen: a corridor is seen along its length, not end on.
      const along = size.x >= size.y;
      const from = new THREE.Vector3(along ? -0.45 : -0.9, along ? -0.9 : -0.45, 0.75).normalize();
      // Aimed a little below the centre: the room sits higher in the view,
      // clear of the readout.
      const target = this.centre.clone().addScaledVector(new THREE.Vector3(0, 0, 1), -0.2 * size.z);
      this.camera.position.copy(target).addScaledVector(from, this.fittingDistance(target, from));
      this.controls.target.copy(target);
    } else if (id === 'view') {
      const v = this.data.view;
      this.use(this.perspective);
      this.perspective.fov = v.fov;
      this.camera.position.copy(v3(v.position));
      this.controls.target.copy(v3(v.look_at));
    } else {
      const o = this.data.observers[preset.observer];
      const view = o.views[preset.view];
      this.use(this.perspective);
      this.perspective.fov = 60;
      this.camera.position.copy(v3(o.position));
      // Orbiting about a point just ahead of the eye turns the view about
      // the eye.
      this.controls.target.copy(v3(o.position)).addScaledVector(v3(view.direction), this.extent * 0.01);
    }
    this.perspective.updateProjectionMatrix();
    this.camera.lookAt(this.controls.target);
    this.controls.update();
    this.preset = id;
    this.observers.children.forEach((marker, k) => (marker.visible = k !== preset.observer));
    this.requestRender();
  }

  // A camera that shows an area whole, from the side it receives light on.
  frame(index) {
    const a = this.areas[index];
    const sphere = a.mesh.geometry.boundingSphere;
    if (!sphere) return;
    this.use(this.perspective);
    this.perspective.fov = 45;
    this.perspective.updateProjectionMatrix();
    const normal = v3(a.surface.normal);
    const distance = (sphere.radius * 1.25) / Math.sin(THREE.MathUtils.degToRad(22.5));
    const tilt = Math.abs(normal.z) > 0.9 ? new THREE.Vector3(0, -0.35, 0) : new THREE.Vector3(0, 0, 0.25);
    this.camera.position.copy(sphere.center).addScaledVector(normal.add(tilt).normalize(), distance);
    this.controls.target.copy(sphere.center);
    this.controls.update();
    this.preset = null;
    for (const marker of this.observers.children) marker.visible = true;
    this.requestRender();
  }

  // ---- pointing -------------------------------------------------------------

  pickables() {
    const list = [];
    const visible = (o) => {
      for (let p = o; p; p = p.parent) if (!p.visible) return false;
      return true;
    };
    this.scene.traverse((o) => {
      if ((o.isMesh || o.isInstancedMesh) && o.userData.pick && visible(o)) list.push(o);
    });
    return list;
  }

  // What lies under a point of the canvas (client coordinates): the nearest
  // visible thing, and on a calculation area the values there.
  pick(clientX, clientY) {
    const r = this.canvas.getBoundingClientRect();
    const ndc = new THREE.Vector2(((clientX - r.left) / r.width) * 2 - 1, 1 - ((clientY - r.top) / r.height) * 2);
    this.raycaster.setFromCamera(ndc, this.camera);
    // An area lying on a solid's face (a plinth's top) is what the pointer
    // means there, as it is what is drawn.
    const near = this.extent * 1e-5;
    const reach = (h) => h.distance - (h.object.userData.pick.kind === 'area' ? near : 0);
    const hits = this.raycaster.intersectObjects(this.pickables(), false).sort((a, b) => reach(a) - reach(b));
    for (const hit of hits) {
      const info = hit.object.userData.pick;
      if (info.kind === 'area') {
        const reading = info.area.read([hit.point.x, hit.point.y, hit.point.z]);
        if (reading.state === 'outside') continue; // a band's hole: look further
        return { ...info, ...reading };
      }
      if (info.kind === 'points') return { ...info, ...info.area.readPoint(hit.instanceId) };
      return { ...info, point: [hit.point.x, hit.point.y, hit.point.z] };
    }
    return null;
  }

  hover(e) {
    this.events.onHover(this.pick(e.clientX, e.clientY), e);
  }

  // ---- for scripts and tests ----------------------------------------------

  // Where a point of the scene appears on the page, in client coordinates.
  screenOf(point) {
    const p = v3(point).project(this.camera);
    const r = this.canvas.getBoundingClientRect();
    return { x: r.left + (p.x * 0.5 + 0.5) * r.width, y: r.top + (0.5 - p.y * 0.5) * r.height, depth: p.z };
  }

  cameraState() {
    const direction = this.camera.getWorldDirection(new THREE.Vector3());
    return {
      type: this.camera.isOrthographicCamera ? 'orthographic' : 'perspective',
      position: this.camera.position.toArray(),
      direction: direction.toArray(),
      preset: this.preset,
    };
  }

  // The mean time to draw a frame, in ms, over `frames` frames of a turn
  // of the camera about the target, each waited for; and the triangles a
  // frame draws.
  frameTime(frames) {
    const gl = this.renderer.getContext();
    const pixel = new Uint8Array(4);
    const start = this.camera.position.clone();
    const axis = new THREE.Vector3(0, 0, 1);
    const t0 = performance.now();
    for (let k = 1; k <= frames; ++k) {
      const offset = start.clone().sub(this.controls.target).applyAxisAngle(axis, (2 * Math.PI * k) / frames);
      this.camera.position.copy(this.controls.target).add(offset);
      this.camera.lookAt(this.controls.target);
      this.render();
      gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
    }
    const ms = (performance.now() - t0) / frames;
    const triangles = this.renderer.info.render.triangles;
    this.camera.position.copy(start);
    this.controls.update();
    return { ms, triangles };
  }

  // The picture as drawn now, read straight after drawing: its size, every
  // `step`-th pixel of every `step`-th row (RGBA, rows from the bottom), and
  // the pixels at the given client positions.
  pixels(step = 1, at = []) {
    this.render();
    const gl = this.renderer.getContext();
    const w = gl.drawingBufferWidth;
    const h = gl.drawingBufferHeight;
    const all = new Uint8Array(w * h * 4);
    gl.readPixels(0, 0, w, h, gl.RGBA, gl.UNSIGNED_BYTE, all);
    const cols = Math.ceil(w / step);
    const rows = Math.ceil(h / step);
    const source = new Uint32Array(all.buffer);
    const kept = new Uint32Array(cols * rows);
    for (let y = 0; y < rows; ++y)
      for (let x = 0; x < cols; ++x) kept[y * cols + x] = source[y * step * w + x * step];
    const data = new Uint8Array(kept.buffer);
    const r = this.canvas.getBoundingClientRect();
    const ratio = w / r.width;
    const picked = at.map(([cx, cy]) => {
      const x = Math.min(Math.floor((cx - r.left) * ratio), w - 1);
      const y = h - 1 - Math.min(Math.floor((cy - r.top) * ratio), h - 1);
      return Array.from(all.subarray((y * w + x) * 4, (y * w + x) * 4 + 4));
    });
    return { width: cols, height: rows, data, at: picked };
  }
}
