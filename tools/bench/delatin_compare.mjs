// The public greedy-insertion simplifier on the same corner heights as
// Simplified (the Interpolated vertices: corner means of the valid cells), for
// scripts/bench: prints its vertices, triangles and seconds per maximum error.
//   node delatin_compare.mjs GRID.asc E...
import fs from 'fs';
import Delatin from 'delatin';
const [path, ...errors] = process.argv.slice(2);
const lines = fs.readFileSync(path, 'utf8').split('\n');
const cols = +lines[0].split(/\s+/)[1], rows = +lines[1].split(/\s+/)[1];
const nodata = +lines[5].split(/\s+/)[1];
const cells = new Float64Array(cols * rows); const valid = new Uint8Array(cols * rows);
for (let r = 0; r < rows; r++) { const v = lines[6 + r].trim().split(/\s+/); for (let c = 0; c < cols; c++) { const x = +v[c]; cells[r * cols + c] = x; valid[r * cols + c] = x !== nodata ? 1 : 0; } }
const W = cols + 1, H = rows + 1; const corners = new Float64Array(W * H);
for (let y = 0; y < H; y++) for (let x = 0; x < W; x++) { let s = 0, n = 0;
  for (const [cx, cy] of [[x-1,y-1],[x,y-1],[x-1,y],[x,y]]) if (cx >= 0 && cy >= 0 && cx < cols && cy < rows && valid[cy*cols+cx]) { s += cells[cy*cols+cx]; n++; }
  corners[y * W + x] = n ? s / n : 0; }
for (const e of errors) {
  const t0 = performance.now(); const tin = new Delatin(corners, W, H); tin.run(+e); const t1 = performance.now();
  console.log(`delatin E ${e}: ${tin.coords.length / 2} vertices, ${tin.triangles.length / 3} triangles, ${((t1 - t0) / 1000).toFixed(2)} s`);
}
