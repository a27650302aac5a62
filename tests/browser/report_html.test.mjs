// The interactive report in a real browser: headless Chromium from Debian,
// driven by playwright-core from the build's pinned npm packages. For every
// example and a 36 m x 24 m hall, zel-lux writes report.html; the page is
// opened from disk and must load offline without a console error, draw the
// room, give the CSV's illuminance under the pointer, change its colours
// with the light shown, and put the camera where its presets say.
//
// Usage: node report_html.test.mjs --zel-lux BIN --modules DIR --source DIR --work DIR
//        [--measure]   also time frames while the camera orbits (no check)
// Exits 77 (skipped) when Chromium or the npm packages are missing, or zel-lux
// was built without the report page, saying why.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at >= 0 && at + 1 < process.argv.length ? path.resolve(process.argv[at + 1]) : fallback;
}
const zelLux = option('--zel-lux');
const modules = option('--modules');
const source = option('--source');
const work = option('--work');
const measure = process.argv.includes('--measure');
const chromiumPath = process.env.ZEL_CHROMIUM || '/usr/bin/chromium';

function skip(why) {
  console.log(`SKIPPED: ${why}`);
  process.exit(77);
}
if (!zelLux || !modules || !source || !work) throw new Error('usage: --zel-lux BIN --modules DIR --source DIR --work DIR');
if (!existsSync(chromiumPath)) skip(`no browser at ${chromiumPath}: scripts/deps.sh chromium installs Debian's`);
if (!existsSync(path.join(modules, 'playwright-core')))
  skip(`playwright-core is not installed in ${modules}: the build's npm ci did not run (see build/…/web/missing.txt)`);
const { chromium } = createRequire(path.join(modules, 'package.json'))('playwright-core');

// ---- the reports --------------------------------------------------------

// A hall of 36 m x 24 m lit by 96 panels, its floor a calculation surface of
// 180 x 120 points, with rows of desks standing on it (the points under them
// masked): the large floor the page must show without stutter.
function hallScene() {
  const lights = [];
  for (let r = 0; r < 8; ++r)
    for (let c = 0; c < 12; ++c)
      lights.push({
        name: `panel ${r + 1}-${c + 1}`, shape: 'rectangle', size: [0.6, 0.6],
        position: [1.5 + 3 * c, 1.5 + 3 * r, 4], shader: { intensity: 3400, intensity_unit: 1, cosine_distribution: true },
      });
  const occluders = [];
  for (let r = 0; r < 4; ++r)
    for (let c = 0; c < 6; ++c)
      occluders.push({ name: `desk ${r + 1}-${c + 1}`, shape: 'box', min: [3 + 6 * c, 3 + 6 * r, 0], max: [4.6 + 6 * c, 3.8 + 6 * r, 0.72] });
  return {
    title: 'Hall, 36 m x 24 m', scene_unit: 'metre', samples: 2, lights, occluders,
    surfaces: [{ name: 'floor', corner: [0, 0, 0], u: [36, 0, 0], v: [0, 24, 0], spacing: 0.2 }],
  };
}

const reports = [];
function writeReports() {
  rmSync(work, { recursive: true, force: true });
  mkdirSync(work, { recursive: true });
  const scenes = readdirSync(path.join(source, 'examples'))
    .filter((f) => f.endsWith('.json'))
    .sort()
    .map((f) => path.join(source, 'examples', f));
  const hall = path.join(work, 'hall.json');
  writeFileSync(hall, JSON.stringify(hallScene(), null, 1));
  scenes.push(hall);
  for (const scene of scenes) {
    const name = path.basename(scene, '.json');
    const started = performance.now();
    const out = path.join(work, name);
    // The hall and the furnished L rooms without interreflection: the one
    // is about size, the others about their mesh, and their patches would
    // take most of the test's time.
    const extra = scene === hall || ['office-l', 'office-l-room'].includes(name) ? ['--direct-only'] : [];
    const run = spawnSync(zelLux, [scene, '-q', '-j', '2', '-s', '4', '--no-pictures', '--html', '-o', out, ...extra], { encoding: 'utf8' });
    if (run.status !== 0 && /built without the report page/.test(run.stderr)) skip(run.stderr.trim());
    assert.equal(run.status, 0, `${name}: ${run.stderr}`);
    const file = path.join(out, 'report.html');
    reports.push({ name, scene, out, file, size: statSync(file).size });
    console.log(`${name}: zel-lux took ${((performance.now() - started) / 1000).toFixed(1)} s`);
  }
}

// ---- the browser --------------------------------------------------------

let browser;
// The flags Chromium needs as root in a closed network: no sandbox, no
// background connections; WebGL from SwiftShader, the software renderer.
const flags = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--enable-unsafe-swiftshader', '--use-angle=swiftshader',
];

// Opens a report and records what it says and asks for.
async function open(file) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  const log = { errors: [], requests: [] };
  page.on('console', (m) => m.type() === 'error' && log.errors.push(m.text()));
  page.on('pageerror', (e) => log.errors.push(e.message));
  page.on('request', (r) => log.requests.push(r.url()));
  const url = `file://${file}`;
  await page.goto(url);
  await page.waitForFunction(() => window.zelLux && window.zelLux.ready, null, { timeout: 30000 });
  return { page, log, url };
}

// The drawn picture's pixels (RGBA, rows from the bottom), every second
// one of every second row, and those at the given client positions.
async function pixels(page, at = []) {
  const p = await page.evaluate((where) => window.zelLux.pixels(2, where), at);
  return { ...p, data: Buffer.from(p.rgba, 'base64') };
}

function fractionDiffering(a, b) {
  let differ = 0;
  for (let k = 0; k < a.data.length; k += 4)
    if (Math.abs(a.data[k] - b.data[k]) + Math.abs(a.data[k + 1] - b.data[k + 1]) + Math.abs(a.data[k + 2] - b.data[k + 2]) > 6) ++differ;
  return differ / (a.data.length / 4);
}

// The ramp of the page's data, interpolated as the maps interpolate it.
function rampColour(ramp, t) {
  const k = Math.min(Math.max(t, 0), 1) * (ramp.length - 1);
  const k0 = Math.min(Math.floor(k), ramp.length - 2);
  return [0, 1, 2].map((c) => ramp[k0][c] + (ramp[k0 + 1][c] - ramp[k0][c]) * (k - k0));
}

function csv(file) {
  const [head, ...lines] = readFileSync(file, 'utf8').trim().split('\n');
  const names = head.split(',');
  return lines.map((line) => Object.fromEntries(line.split(',').map((v, k) => [names[k], v])));
}

// Up to `n` grid points spread over an area where the light changes by
// less than `step` to each neighbour: the pointer lands within a pixel or
// two of the point, a hundredth of a cell, so it reads the point's value
// within 1% even where a standard grid's coarse cells change by a tenth.
function smoothPoints(rows, n, step) {
  const at = new Map(rows.map((r) => [`${r.i},${r.j}`, +r.E_lux]));
  const smooth = rows.filter((r) => {
    const e = +r.E_lux;
    return e > 0 && [[1, 0], [-1, 0], [0, 1], [0, -1]].every(([a, b]) => {
      const v = at.get(`${+r.i + a},${+r.j + b}`);
      return v !== undefined && Math.abs(v - e) < step * e;
    });
  });
  return Array.from({ length: Math.min(n, smooth.length) }, (_, k) => smooth[Math.floor(((k + 0.5) / n) * smooth.length)]);
}

// Scene files allow // and /* */ comments outside strings.
function withoutComments(text) {
  let out = '';
  for (let k = 0; k < text.length; ++k) {
    if (text[k] === '"') {
      let end = k + 1;
      while (end < text.length && text[end] !== '"') end += text[end] === '\\' ? 2 : 1;
      out += text.slice(k, end + 1);
      k = end;
    } else if (text.startsWith('//', k)) {
      k = text.indexOf('\n', k) - 1;
      if (k < 0) break;
    } else if (text.startsWith('/*', k)) {
      k = text.indexOf('*/', k) + 1;
    } else {
      out += text[k];
    }
  }
  return out;
}

// The area the plan shows on top: the highest calculation area facing up
// that has points in the figures.
function planArea(data) {
  const candidates = data.surfaces
    .map((s, index) => ({ s, index }))
    .filter(({ s }) => s.kind !== 'points' && s.role === 'surface' && s.normal[2] > 0.9 && s.stats.total.counted > 0);
  candidates.sort((a, b) => (b.s.kind === 'calculation') - (a.s.kind === 'calculation') || b.s.corner[2] - a.s.corner[2]);
  return candidates[0];
}

before(async () => {
  writeReports();
  browser = await chromium.launch({ executablePath: chromiumPath, args: flags });
});
after(async () => {
  if (browser) await browser.close();
});

describe('the report page', () => {
  test('every example and the hall: loads offline, draws, reads the CSV under the pointer', async (t) => {
    for (const report of reports) {
      await t.test(report.name, async () => {
        const { page, log, url } = await open(report.file);
        // The page's data but its bulk (values, meshes).
        const data = await page.evaluate(() => {
          const d = window.zelLux.data;
          return { ...d, furniture: [], surfaces: d.surfaces.map(({ values, state, ...rest }) => rest) };
        });

        if (measure) {
          const { ms, triangles } = await page.evaluate(() => window.zelLux.frameTime(60));
          console.log(`${report.name}: ${triangles} triangles, ${ms.toFixed(1)} ms per frame (SwiftShader)`);
        }

        // Drawn: the room fills much of the view (a tenth for a 20 m x 2 m
        // corridor, most of it for a room), in many colours.
        const picture = await pixels(page);
        const background = [0xe9, 0xed, 0xf1];
        let drawn = 0;
        const distinct = new Set();
        for (let k = 0; k < picture.data.length; k += 4) {
          const d = picture.data;
          if (Math.abs(d[k] - background[0]) + Math.abs(d[k + 1] - background[1]) + Math.abs(d[k + 2] - background[2]) > 6) ++drawn;
          distinct.add((d[k] << 16) | (d[k + 1] << 8) | d[k + 2]);
        }
        assert.ok(drawn / (picture.data.length / 4) > 0.07, `${report.name}: only ${drawn} pixels drawn`);
        assert.ok(distinct.size > 50, `${report.name}: ${distinct.size} colours`);

        // The plan: the value under the pointer at grid points of the top
        // area is the CSV's, within 1%, and its pixel has the ramp's colour.
        await page.click('button[data-preset="plan"]');
        assert.equal((await page.evaluate(() => window.zelLux.camera())).type, 'orthographic');
        const { s: area } = planArea(data);
        const rows = csv(path.join(report.out, `${area.file}.csv`)).filter((r) => r.E_lux !== '');
        const du = Math.hypot(...area.u) / area.nu;
        const dv = Math.hypot(...area.v) / area.nv;
        const scale = data.scales.total;
        const colours = [];
        let read = 0;
        // Where the light is smooth (4% to each neighbour) the point's pixel
        // is away from iso-lines and outlines and shows the ramp's colour; a
        // coarse grid adds points where it changes by up to 12% for reading.
        const even = smoothPoints(rows, 16, 0.04);
        const candidates = even.length >= 6 ? even : [...even, ...smoothPoints(rows, 16, 0.12).filter((r) => !even.includes(r))];
        for (const row of candidates) {
          if (read === 6) break;
          const at = [+row.x, +row.y, +row.z];
          const screen = await page.evaluate((p) => window.zelLux.screenOf(p), at);
          await page.mouse.move(screen.x, screen.y);
          const shown = await page.evaluate(() => ({ ...document.getElementById('readout').dataset }));
          if (shown.area !== area.name) continue; // something stands above the point
          const hit = shown.point.split(',').map(Number);
          assert.ok(Math.abs(hit[0] - at[0]) < 0.3 * du && Math.abs(hit[1] - at[1]) < 0.3 * dv, `pointed at ${at}, hit ${hit}`);
          const want = +row.E_lux;
          assert.ok(Math.abs(+shown.value - want) <= 0.01 * Math.abs(want) + 1e-6, `${report.name} ${area.name} at ${at}: ${shown.value} for the CSV's ${want}`);
          // Its colour is checked below, away from the iso-lines' pixels.
          const f = (want - scale.lo) / scale.step;
          if (even.includes(row) && Math.abs(f - Math.round(f)) > 0.15 && shown.state === 'counted') colours.push({ at, screen, value: +shown.value });
          ++read;
        }
        const drawnAt = (await pixels(page, colours.map((c) => [c.screen.x, c.screen.y]))).at;
        colours.forEach(({ at, value }, k) => {
          const expected = rampColour(data.ramp, (value - scale.lo) / (scale.hi - scale.lo)).map((c) => c * 255);
          for (let c = 0; c < 3; ++c)
            assert.ok(Math.abs(drawnAt[k][c] - expected[c]) <= 8, `${report.name} at ${at}: pixel ${drawnAt[k]} for the ramp's ${expected.map(Math.round)}`);
        });
        assert.ok(read >= 3, `${report.name}: only ${read} grid points of ${area.name} could be pointed at`);

        // Total and direct: other colours, and the direct value under the
        // pointer is the CSV's direct value.
        const direct = page.locator('button[data-quantity="direct"]');
        if (data.quantities.includes('direct')) {
          const total = await pixels(page);
          await direct.click();
          assert.ok(fractionDiffering(total, await pixels(page)) > 0.02, `${report.name}: direct light looks like the total`);
          const row = rows[Math.floor(rows.length / 2)];
          const screen = await page.evaluate((p) => window.zelLux.screenOf(p), [+row.x, +row.y, +row.z]);
          await page.mouse.move(screen.x, screen.y);
          const shown = await page.evaluate(() => ({ ...document.getElementById('readout').dataset }));
          if (shown.area === area.name) {
            assert.equal(shown.quantity, 'direct');
            assert.ok(Math.abs(+shown.value - +row.E_direct_lux) <= 0.01 * +row.E_direct_lux + 1e-6);
          }
          await page.click('button[data-quantity="total"]');
        } else {
          assert.ok(await direct.isDisabled(), 'without interreflection there is no direct part to show');
        }

        // The scene's camera and each observer's eye.
        if (data.view) {
          const scene = JSON.parse(withoutComments(readFileSync(report.scene, 'utf8')));
          await page.click('button[data-preset="view"]');
          const camera = await page.evaluate(() => window.zelLux.camera());
          camera.position.forEach((c, k) => assert.ok(Math.abs(c - scene.view.position[k]) < 1e-3, `view camera at ${camera.position}`));
        }
        if (data.observers.length) {
          const ugr = JSON.parse(readFileSync(path.join(report.out, 'report.json'), 'utf8')).ugr;
          for (const rating of ugr.ratings) {
            const k = data.observers.findIndex((o) => o.name === rating.observer);
            const m = data.observers[k].views.findIndex((v) => v.direction.every((c, i) => Math.abs(c - rating.direction[i]) < 1e-6));
            await page.click(`button[data-preset="observer:${k}:${m}"]`);
            const camera = await page.evaluate(() => window.zelLux.camera());
            camera.position.forEach((c, i) => assert.ok(Math.abs(c - rating.position[i]) < 1e-3, `${rating.observer}: camera at ${camera.position}, eye at ${rating.position}`));
            const along = camera.direction.reduce((s, c, i) => s + c * rating.direction[i], 0);
            assert.ok(along > 0.999, `${rating.observer}: looking along ${camera.direction}, not ${rating.direction}`);
          }
        }

        // An area hidden is gone from the picture; a row selects its area.
        await page.click('button[data-preset="overview"]');
        const before = await pixels(page);
        const { index: shown } = planArea(data);
        await page.uncheck(`input[data-area="${shown}"]`);
        assert.ok(fractionDiffering(before, await pixels(page)) > 0.01, `${report.name}: hiding ${area.name} changed nothing`);
        await page.click(`#areas tr[data-index="${shown}"]`);
        assert.ok((await page.textContent('#selection')).includes(area.name));
        assert.ok(await page.isChecked(`input[data-area="${shown}"]`), 'a selected area is shown');

        assert.deepEqual(log.errors, [], `${report.name}: console errors`);
        assert.deepEqual(log.requests, [url], `${report.name}: requests beyond the file itself`);
        if (report.name === 'office') {
          await page.screenshot({ path: path.join(work, 'office-report.png') });
          assert.ok(report.size < 3 * 1024 * 1024, `the office's page has ${report.size} bytes`);
        }
        console.log(`${report.name}: ${(report.size / 1024).toFixed(0)} KiB`);
        await page.close();
      });
    }
  });

  // The verdict table appears only with verdicts in the data, and its rows
  // select their area.
  test('verdicts: shown when the data has them, each row selects its area', async () => {
    const office = reports.find((r) => r.name === 'office');
    const plain = await open(office.file);
    assert.equal(await plain.page.locator('#verdicts').count(), 0);
    await plain.page.close();

    const html = readFileSync(office.file, 'utf8');
    const open_ = '<script type="application/json" id="zel-lux-data">';
    const from = html.indexOf(open_) + open_.length;
    const to = html.indexOf('</script>', from);
    const data = JSON.parse(html.slice(from, to));
    data.verdicts = [
      { requirement: 'E avg', area: 'work plane', unit: 'lx', relation: '>=', target: 500, result: 430.7, pass: false, margin: -69.3 },
      { requirement: 'U0', area: 'work plane', unit: '', relation: '>=', target: 0.6, result: 0.79, pass: true, margin: 0.19 },
      { requirement: 'E avg', area: 'floor', unit: 'lx', relation: '>=', target: 100, result: 321, pass: true, margin: 221 },
    ];
    const text = JSON.stringify(data).replace(/</g, '\\u003c');
    const file = path.join(work, 'office-verdicts.html');
    writeFileSync(file, html.slice(0, from) + text + html.slice(to));
    const { page, log } = await open(file);
    const rows = page.locator('#verdicts tbody tr');
    assert.equal(await rows.count(), 3);
    assert.equal(await page.locator('#verdicts td.fail').count(), 1);
    assert.equal(await page.locator('#verdicts td.pass').count(), 2);
    await rows.nth(2).click();
    const floor = data.surfaces.findIndex((s) => s.name === 'floor');
    assert.match(await page.getAttribute(`#areas tr[data-index="${floor}"]`, 'class'), /selected/);
    assert.deepEqual(log.errors, []);
    await page.close();
  });
});
