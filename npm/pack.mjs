#!/usr/bin/env node
// Packs the npm packages: the main package `clipfiles`, and one package for each platform
// binary given, as `npm pack` makes them, into OUT. Every package gets the project's version
// from CMakeLists.txt, and the main package the table of exit statuses from
// src/tool/exit_statuses.def.
//   node npm/pack.mjs OUT [PLATFORM=BINARY...]      e.g. linux-x64=build/release/clipfiles
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const npmDir = path.dirname(fileURLToPath(import.meta.url));
const root = path.dirname(npmDir);

function fail(message) {
  process.stderr.write(`npm/pack.mjs: ${message}\n`);
  process.exit(1);
}

export function projectVersion(cmakeLists) {
  const match = /^project\(clipfiles VERSION (\d+\.\d+\.\d+)\b/m.exec(cmakeLists);
  if (!match) throw new Error("no project(clipfiles VERSION x.y.z) in CMakeLists.txt");
  return match[1];
}

// CLIPFILES_EXIT_STATUS(name, value, "cause") lines, as { value: { name, code } }; the code is
// the name without "Error", in capitals: dataError -> ERR_CLIPFILES_DATA.
export function exitStatuses(definitions) {
  const statuses = {};
  const line = /^CLIPFILES_EXIT_STATUS\((\w+), (\d+), "/gm;
  for (const [, name, value] of definitions.matchAll(line)) {
    if (value === "0") continue;
    statuses[value] = { name, code: `ERR_CLIPFILES_${name.replace(/Error$/, "").toUpperCase()}` };
  }
  if (Object.keys(statuses).length === 0) throw new Error("no exit statuses in exit_statuses.def");
  return statuses;
}

// The machine a binary is for, from its header, so that none lands in the wrong package.
function binaryTarget(file) {
  const header = Buffer.alloc(0x40);
  const fd = fs.openSync(file, "r");
  fs.readSync(fd, header, 0, header.length, 0);
  fs.closeSync(fd);
  if (header.toString("latin1", 0, 4) === "\x7fELF") {
    const machines = { 0x3e: "x64", 0xb7: "arm64" };
    return { os: "linux", cpu: machines[header.readUInt16LE(18)] };
  }
  if (header.toString("latin1", 0, 2) === "MZ") {
    const pe = Buffer.alloc(6);
    const fd2 = fs.openSync(file, "r");
    fs.readSync(fd2, pe, 0, 6, header.readUInt32LE(0x3c));
    fs.closeSync(fd2);
    const machines = { 0x8664: "x64", 0xaa64: "arm64" };
    return { os: "win32", cpu: machines[pe.readUInt16LE(4)] };
  }
  if (header.readUInt32LE(0) === 0xfeedfacf) { // a 64-bit Mach-O binary, of one architecture
    const machines = { 0x0100000c: "arm64", 0x01000007: "x64" };
    return { os: "darwin", cpu: machines[header.readUInt32LE(4)] };
  }
  return { os: "unknown", cpu: "unknown" };
}

function npmPack(directory, out, cache) {
  const json = execFileSync("npm", ["pack", "--json", "--pack-destination", out, "--cache", cache],
    { cwd: directory, encoding: "utf8", stdio: ["ignore", "pipe", "inherit"] });
  const [packed] = JSON.parse(json);
  process.stdout.write(`${packed.filename}\t${packed.size} bytes packed, ` +
    `${packed.unpackedSize} unpacked, ${packed.entryCount} files\n`);
}

function main(args) {
  if (args.length < 1) fail("usage: node npm/pack.mjs OUT [PLATFORM=BINARY...]");
  const out = path.resolve(args[0]);
  const version = projectVersion(fs.readFileSync(path.join(root, "CMakeLists.txt"), "utf8"));
  const statuses = exitStatuses(
    fs.readFileSync(path.join(root, "src/tool/exit_statuses.def"), "utf8"));
  const platforms = JSON.parse(fs.readFileSync(path.join(npmDir, "platforms/platforms.json")));
  const source = path.join(npmDir, "clipfiles");
  const manifest = JSON.parse(fs.readFileSync(path.join(source, "package.json"), "utf8"));

  const listed = Object.keys(manifest.optionalDependencies).sort();
  const known = Object.keys(platforms).map((name) => `@clipfiles/${name}`).sort();
  if (listed.join() !== known.join()) {
    fail(`package.json depends on ${listed.join(", ")} but platforms.json has ${known.join(", ")}`);
  }

  fs.mkdirSync(out, { recursive: true });
  const staging = fs.mkdtempSync(path.join(os.tmpdir(), "clipfiles-pack-"));
  const cache = path.join(staging, "cache");
  try {
    // The main package: its files as they are, the version, and the status table.
    const main = path.join(staging, "clipfiles");
    fs.mkdirSync(path.join(main, "bin"), { recursive: true });
    for (const file of [...manifest.files, "README.md", "LICENSE"]) {
      if (file === "statuses.json") continue;
      fs.copyFileSync(path.join(source, file), path.join(main, file));
    }
    fs.chmodSync(path.join(main, "bin/clipfiles.js"), 0o755);
    manifest.version = version;
    for (const name of listed) manifest.optionalDependencies[name] = version;
    fs.writeFileSync(path.join(main, "package.json"), `${JSON.stringify(manifest, null, 2)}\n`);
    fs.writeFileSync(path.join(main, "statuses.json"), `${JSON.stringify(statuses, null, 2)}\n`);
    npmPack(main, out, cache);

    // One package per binary given.
    const readme = fs.readFileSync(path.join(npmDir, "platforms/README.md"), "utf8");
    for (const arg of args.slice(1)) {
      const [name, binary] = [arg.slice(0, arg.indexOf("=")), arg.slice(arg.indexOf("=") + 1)];
      const platform = platforms[name];
      if (!platform || !binary) fail(`not a PLATFORM=BINARY of platforms.json: ${arg}`);
      const target = binaryTarget(binary);
      if (target.os !== platform.os || target.cpu !== platform.cpu) {
        fail(`${binary} is for ${target.os}-${target.cpu}, not ${name}`);
      }
      const directory = path.join(staging, name);
      fs.mkdirSync(path.join(directory, "bin"), { recursive: true });
      fs.copyFileSync(binary, path.join(directory, "bin", platform.binary));
      fs.chmodSync(path.join(directory, "bin", platform.binary), 0o755);
      fs.copyFileSync(path.join(source, "LICENSE"), path.join(directory, "LICENSE"));
      fs.writeFileSync(path.join(directory, "README.md"), readme
        .replaceAll("@PLATFORM@", name).replaceAll("@LABEL@", platform.label)
        .replaceAll("@VERSION@", version));
      const packageJson = {
        name: `@clipfiles/${name}`,
        version,
        description: `The clipfiles binary for ${platform.label}`,
        license: manifest.license,
        author: manifest.author,
        os: [platform.os],
        cpu: [platform.cpu],
        ...(platform.libc ? { libc: [platform.libc] } : {}),
        files: [`bin/${platform.binary}`],
        preferUnplugged: true,
        engines: manifest.engines,
      };
      fs.writeFileSync(path.join(directory, "package.json"),
        `${JSON.stringify(packageJson, null, 2)}\n`);
      npmPack(directory, out, cache);
    }
  } finally {
    fs.rmSync(staging, { recursive: true, force: true });
  }
}

if (process.argv[1] && fs.realpathSync(process.argv[1]) === fileURLToPath(import.meta.url)) {
  main(process.argv.slice(2));
}
