// Times single calls from a warm Node process, with the packed npm package installed in
// PROJECT and a clipboard of FILES files: readCopiedFiles(), readCopiedFilesSync(), the binary
// itself by execFile, and execFile("/bin/true") as the floor of a spawn from Node. The four
// take turns, so that a slow spell of the machine is spread over all of them. Prints one table
// row of medians in milliseconds, with the target for a call: OWN (the binary's own time, in
// milliseconds) + the spawn of /bin/true + 1 ms.
//   node bench/node.mjs PROJECT CLIPBOARD FILES OWN
import { execFile } from "node:child_process";
import { createRequire } from "node:module";
import path from "node:path";
import { promisify } from "node:util";

const [project, clipboard, files, own] = process.argv.slice(2);
const { readCopiedFiles, readCopiedFilesSync, findBinary } =
  createRequire(path.join(project, "package.json"))("clipfiles");
const run = promisify(execFile);
const binary = findBinary();
const runs = Number(files) >= 10000 ? 30 : 200;

const calls = {
  readCopiedFiles: async () => (await readCopiedFiles()).length,
  readCopiedFilesSync: async () => readCopiedFilesSync().length,
  binary: async () => (await run(binary, [], { maxBuffer: Infinity })).stdout.length,
  true: async () => (await run("/bin/true")).stdout.length,
};
const times = Object.fromEntries(Object.keys(calls).map((name) => [name, []]));
for (let i = -5; i < runs; ++i) { // the first five warm up
  for (const [name, call] of Object.entries(calls)) {
    const begun = process.hrtime.bigint();
    const result = await call();
    const ms = Number(process.hrtime.bigint() - begun) / 1e6;
    if (name.startsWith("read") && result !== Number(files)) {
      throw new Error(`${name} read ${result} files, not ${files}`);
    }
    if (i >= 0) times[name].push(ms);
  }
}
const median = (list) => list.sort((a, b) => a - b)[Math.floor(list.length / 2)];
const [promise, sync, tool, floor] = Object.values(times).map(median);
const target = Number(own) + floor + 1;
const met = Math.max(promise, sync) <= target ? "met" : "missed";
console.log(`| ${clipboard} | ${files} | ${promise.toFixed(2)} | ${sync.toFixed(2)} | ` +
  `${tool.toFixed(2)} | ${floor.toFixed(2)} | ≤ ${target.toFixed(2)} ${met} |`);
