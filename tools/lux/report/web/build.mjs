// Builds the report page's template: the page's own scripts bundled with
// three.js (from the pinned packages in --modules) into one minified
// script, inlined with the styles into page.html. The template keeps two
// markers, for the title and the run's data, which zel-lux fills in.
//
// Usage: node build.mjs --modules DIR/node_modules --out report-page.html
import { readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));

function option(name) {
  const at = process.argv.indexOf(name);
  if (at < 0 || at + 1 >= process.argv.length) throw new Error(`missing ${name}`);
  return path.resolve(process.argv[at + 1]);
}

const modules = option('--modules');
const out = option('--out');
const esbuild = createRequire(path.join(modules, 'package.json'))('esbuild');

const bundle = await esbuild.build({
  entryPoints: [path.join(here, 'src', 'main.js')],
  bundle: true,
  minify: true,
  format: 'iife',
  target: 'es2020',
  charset: 'ascii',
  legalComments: 'eof',
  nodePaths: [modules],
  write: false,
  logLevel: 'warning',
});
const script = bundle.outputFiles[0].text;
// An inline script ends at the first "</script" whatever quotes it is in.
if (/<\/script/i.test(script)) throw new Error('the bundled script contains "</script"');

const three = JSON.parse(readFileSync(path.join(modules, 'three', 'package.json'), 'utf8'));
const page = readFileSync(path.join(here, 'page.html'), 'utf8')
  .replace('/*zel-lux:style*/', () => readFileSync(path.join(here, 'page.css'), 'utf8'))
  .replace('/*zel-lux:three*/', () => `three.js ${three.version}, MIT licence`)
  .replace('/*zel-lux:script*/', () => script);
writeFileSync(out, page);
console.log(`report page viewer: ${out} (${(page.length / 1024).toFixed(0)} KiB, three.js ${three.version})`);
