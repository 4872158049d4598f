// What the npm tests run against: the packed packages installed offline into fresh projects,
// a private Xvfb and a headless sway, and real clipboard owners on them.
import { spawn, spawnSync } from "node:child_process";
import { once } from "node:events";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { setTimeout as sleep } from "node:timers/promises";

const started = new Set();
// Everything temporary, in one directory that sway, running as nobody, can enter.
const base = fs.mkdtempSync(path.join(os.tmpdir(), "clipfiles-npm-"));
fs.chmodSync(base, 0o755);
// Whatever happens to the test run, no server or owner outlives it, nor its files.
process.on("exit", () => {
  for (const child of started) child.kill("SIGKILL");
  fs.rmSync(base, { recursive: true, force: true });
});

for (const signal of ["SIGINT", "SIGTERM"]) process.on(signal, () => process.exit(1));

export async function stopAll() {
  await Promise.all([...started].map(stop));
}

export function start(argv, options = {}) {
  const child = spawn(argv[0], argv.slice(1), { stdio: "ignore", ...options });
  started.add(child);
  child.exited = once(child, "exit").finally(() => started.delete(child));
  child.on("error", () => {});
  return child;
}

export async function stop(child) {
  if (!child || child.exitCode !== null || child.signalCode !== null) return;
  child.kill("SIGTERM");
  await child.exited;
}

export function temporaryDirectory(prefix) {
  return fs.mkdtempSync(path.join(base, `${prefix}-`));
}

async function until(what, check, limit = 10000) {
  const deadline = Date.now() + limit;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(10);
  }
}

// npm with no registry to reach and an empty cache of its own, so that only the tarballs given
// can be installed.
export function offlineNpmEnv(cache) {
  return {
    ...process.env,
    npm_config_cache: cache,
    npm_config_offline: "true",
    npm_config_registry: "http://127.0.0.1:9/",
    npm_config_audit: "false",
    npm_config_fund: "false",
    npm_config_update_notifier: "false",
  };
}

// A fresh project with the given tarballs installed (npm install --offline ...).
export function installProject(name, tarballs, extraArguments = []) {
  const project = temporaryDirectory(name);
  fs.writeFileSync(path.join(project, "package.json"),
    JSON.stringify({ name: `consumer-${name}`, version: "1.0.0", private: true }));
  const env = offlineNpmEnv(path.join(project, ".npm-cache"));
  const install = spawnSync("npm", ["install", "--offline", ...extraArguments, ...tarballs],
    { cwd: project, env, encoding: "utf8" });
  if (install.status !== 0) {
    throw new Error(`npm install failed in ${project}:\n${install.stdout}${install.stderr}`);
  }
  // The two entries as a consumer imports them, from inside the project.
  fs.writeFileSync(path.join(project, "esm.mjs"), 'export * from "clipfiles";\n');
  fs.writeFileSync(path.join(project, "cjs.cjs"), 'module.exports = require("clipfiles");\n');
  return { project, env };
}

// Xvfb on a display number of its own choosing, which it writes on descriptor 3 once it
// accepts connections.
export async function startXvfb() {
  const server = start(["Xvfb", "-displayfd", "3", "-noreset", "-nolisten", "tcp",
    "-screen", "0", "640x480x24"], { stdio: ["ignore", "ignore", "ignore", "pipe"] });
  let number = "";
  for await (const chunk of server.stdio[3]) {
    number += chunk.toString();
    if (number.includes("\n")) break;
  }
  server.stdio[3].destroy();
  if (!/^\d+\n/.test(number)) throw new Error("Xvfb did not start");
  return { server, display: `:${number.trim()}` };
}

// Headless sway; it refuses to run as root, so as root it runs as nobody, in a runtime
// directory of nobody's.
export async function startSway() {
  const runtime = temporaryDirectory("sway");
  fs.writeFileSync(path.join(runtime, "config"), "xwayland disable\n");
  const env = { ...process.env, XDG_RUNTIME_DIR: runtime, HOME: runtime, WLR_BACKENDS: "headless",
    WLR_LIBINPUT_NO_DEVICES: "1", WLR_RENDERER: "pixman" };
  delete env.DISPLAY;
  delete env.WAYLAND_DISPLAY;
  let argv = ["sway", "-c", path.join(runtime, "config")];
  if (process.getuid() === 0) {
    const nobody = spawnSync("id", ["-u", "nobody"], { encoding: "utf8" }).stdout.trim();
    const nogroup = spawnSync("id", ["-g", "nobody"], { encoding: "utf8" }).stdout.trim();
    fs.chownSync(runtime, Number(nobody), Number(nogroup));
    argv = ["setpriv", `--reuid=${nobody}`, `--regid=${nogroup}`, "--clear-groups", ...argv];
  }
  const server = start(argv, { env });
  const socket = await until("sway's socket", () => fs.readdirSync(runtime)
    .filter((name) => /^wayland-\d+$/.test(name)).map((name) => path.join(runtime, name))
    .find((file) => fs.statSync(file).isSocket()));
  return { server, runtime, socket };
}

// The environment in which the tool reads one clipboard only.
export function x11Env(display) {
  const env = { ...process.env, DISPLAY: display, XDG_RUNTIME_DIR: temporaryDirectory("rt") };
  delete env.WAYLAND_DISPLAY;
  delete env.WAYLAND_SOCKET;
  return env;
}

export function waylandEnv(sway) {
  const env = { ...process.env, WAYLAND_DISPLAY: sway.socket, XDG_RUNTIME_DIR: sway.runtime };
  delete env.DISPLAY;
  delete env.WAYLAND_SOCKET;
  return env;
}

export function uriList(paths) {
  return paths.map((file) => `file://${encodeFilePath(file)}\r\n`).join("");
}

// Percent-encodes a path as file managers write it in a file URI.
function encodeFilePath(file) {
  return Buffer.from(file).toString("latin1").replace(/[^A-Za-z0-9\-._~!$&'()*+,;=:@/]/g,
    (c) => `%${c.charCodeAt(0).toString(16).toUpperCase().padStart(2, "0")}`);
}

function writeData(bytes) {
  const file = path.join(temporaryDirectory("data"), "data");
  fs.writeFileSync(file, bytes);
  return file;
}

// The clipboard owner of the moment on a display: taking the clipboard replaces the last.
export class Clipboard {
  constructor(env, kind) {
    this.env = env;
    this.kind = kind;
    this.owner = null;
  }

  async clear() {
    await stop(this.owner);
    this.owner = null;
  }

  // A real peer offers `type` with `bytes`: xclip on X11, wl-copy on Wayland.
  async offer(type, bytes) {
    await this.clear();
    if (this.kind === "x11") {
      this.owner = start(["xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i",
        writeData(bytes)], { env: this.env });
      await until(`xclip to own the clipboard with ${type}`, () => {
        const targets = spawnSync("xclip", ["-o", "-selection", "clipboard", "-t", "TARGETS"],
          { env: this.env, encoding: "utf8" });
        return targets.status === 0 && targets.stdout.split("\n").includes(type);
      });
    } else {
      this.owner = start(["wl-copy", "--foreground", "-t", type],
        { env: this.env, stdio: ["pipe", "ignore", "ignore"] });
      this.owner.stdin.end(bytes);
      await until(`wl-copy to set the selection with ${type}`, () => spawnSync("wl-paste",
        ["-l"], { env: this.env, encoding: "utf8" }).stdout?.split("\n").includes(type));
    }
  }

  // The project's X11 test owner, offering exactly the given types (TYPE -> bytes), with its
  // options (--silent: never answers).
  async offerExactly(x11Owner, offers, options = []) {
    if (this.kind !== "x11") throw new Error("the test owner is an X11 client");
    await this.clear();
    const argv = [x11Owner, ...options,
      ...Object.entries(offers).map(([type, bytes]) => `${type}=${writeData(bytes)}`)];
    this.owner = start(argv, { env: this.env, stdio: ["ignore", "pipe", "ignore"] });
    let said = "";
    for await (const chunk of this.owner.stdout) {
      said += chunk;
      if (said.includes("\n")) break;
    }
    if (said !== "ready\n") throw new Error(`x11_owner did not take the clipboard: ${said}`);
  }
}

// The processes named `name` whose parent is `parent`, from /proc.
export function childrenNamed(name, parent = process.pid) {
  const found = [];
  for (const entry of fs.readdirSync("/proc")) {
    if (!/^\d+$/.test(entry)) continue;
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${entry}/stat`, "utf8");
    } catch {
      continue;
    }
    // pid (comm) state ppid ...: comm may hold spaces and parentheses, so split at the last ")".
    const comm = stat.slice(stat.indexOf("(") + 1, stat.lastIndexOf(")"));
    const ppid = Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]);
    if (comm === name && ppid === parent) found.push(Number(entry));
  }
  return found;
}

export async function waitForChild(name, parent = process.pid) {
  return until(`a ${name} child of ${parent}`, () => childrenNamed(name, parent)[0]);
}

// Runs a program to its end, as the bytes it wrote.
export function run(argv, options) {
  const result = spawnSync(argv[0], argv.slice(1), { ...options, stdio: ["ignore", "pipe", "pipe"] });
  if (result.error) throw result.error;
  return { status: result.status, signal: result.signal, stdout: result.stdout,
    stderr: result.stderr };
}
