"use strict";
// Runs the native clipfiles tool and returns the paths it prints. The tool does the clipboard
// work; this module finds the binary for this platform, runs it without a shell and turns its
// output, exit status and message into values and errors.
const { spawn, spawnSync } = require("node:child_process");
const fs = require("node:fs");
const path = require("node:path");

// Exit status -> { name, code }, written from src/tool/exit_statuses.def when packing.
const statuses = require("./statuses.json");

// The platforms that have a package with a prebuilt binary, as in "linux-x64": the optional
// dependencies name them.
const prebuilt = new Set(
  Object.keys(require("./package.json").optionalDependencies).map((name) => name.split("/")[1]),
);
const executable = process.platform === "win32" ? "clipfiles.exe" : "clipfiles";

class ClipfilesError extends Error {
  constructor(message, { code, exitStatus = null, signal = null, cause } = {}) {
    super(message, cause === undefined ? undefined : { cause });
    this.name = "ClipfilesError";
    this.code = code;
    this.exitStatus = exitStatus;
    this.signal = signal;
  }
}

function abortError(signal) {
  const error = new ClipfilesError("The operation was aborted", {
    code: "ABORT_ERR",
    cause: signal.reason,
  });
  error.name = "AbortError";
  return error;
}

function timeoutError(timeout) {
  return new ClipfilesError(`clipfiles did not finish within ${timeout} ms and was stopped`, {
    code: "ERR_CLIPFILES_TIMEOUT",
  });
}

function isFile(file) {
  try {
    return fs.statSync(file).isFile();
  } catch {
    return false;
  }
}

function isExecutableFile(file) {
  if (!isFile(file)) return false;
  try {
    fs.accessSync(file, fs.constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

// A binary inside an Electron app's asar archive cannot be run from there; electron-builder's
// asarUnpack and Forge's asar.unpack put it beside the archive, in app.asar.unpacked.
function unpacked(file) {
  const inArchive = /\.asar(?=[\\/])/;
  if (!inArchive.test(file)) return file;
  const outside = file.replace(inArchive, ".asar.unpacked");
  return isFile(outside) ? outside : file;
}

// Only when no binary is found: the process report takes milliseconds to make.
function isMusl() {
  if (process.platform !== "linux") return false;
  try {
    return !process.report.getReport().header.glibcVersionRuntime;
  } catch {
    return false;
  }
}

// Whether a file is a script ("#!..."), as this package's own launcher is, and the shims that
// package managers put in node_modules/.bin for it.
function isScript(file) {
  const start = Buffer.alloc(2);
  try {
    const fd = fs.openSync(file, "r");
    try {
      fs.readSync(fd, start, 0, 2, 0);
    } finally {
      fs.closeSync(fd);
    }
  } catch {
    return false;
  }
  return start.toString("latin1") === "#!";
}

// A clipfiles on PATH, as a user installs it from source or a distribution's package. Scripts
// are skipped: npm links this package's launcher as node_modules/.bin/clipfiles, and running it
// would run itself.
function searchPath(env) {
  const key =
    process.platform === "win32"
      ? Object.keys(env).find((name) => name.toUpperCase() === "PATH")
      : "PATH";
  const directories = (key && env[key] ? env[key] : "").split(path.delimiter);
  for (const directory of directories) {
    if (!directory) continue;
    const candidate = path.join(directory, executable);
    if (isExecutableFile(candidate) && !isScript(candidate)) return candidate;
  }
  return null;
}

function noBinary(message) {
  return new ClipfilesError(message, { code: "ERR_CLIPFILES_NO_BINARY" });
}

// The platform package's binary, looked up once: installed packages do not move.
let packagedBinary;

function platformBinary(platform) {
  if (packagedBinary !== undefined) return packagedBinary;
  let manifest = null;
  try {
    manifest = require.resolve(`@clipfiles/${platform}/package.json`);
  } catch {
    // not installed: an unsupported platform, or installed without optional dependencies
  }
  packagedBinary = manifest && unpacked(path.join(path.dirname(manifest), "bin", executable));
  return packagedBinary;
}

// The binary to run: CLIPFILES_BINARY if set, else this platform's package, else a clipfiles
// on PATH.
function findBinary(options = {}) {
  const env = options.env ?? process.env;
  if (env.CLIPFILES_BINARY) return env.CLIPFILES_BINARY;
  const platform = `${process.platform}-${process.arch}`;
  // On musl npm skips the glibc packages (their "libc" field), so none is found there.
  const packaged = prebuilt.has(platform) ? platformBinary(platform) : null;
  if (packaged && isFile(packaged)) return packaged;
  const onPath = searchPath(env);
  if (onPath) return onPath;

  const setBinary = "or set CLIPFILES_BINARY to the path of a clipfiles binary";
  if (packaged) {
    throw noBinary(`the package @clipfiles/${platform} has no binary at ${packaged}; ` +
      `reinstall it, ${setBinary}`);
  }
  if (isMusl()) {
    throw noBinary("the prebuilt clipfiles binaries need glibc and this system uses musl; " +
      `build clipfiles from source and put it on PATH, ${setBinary}`);
  }
  if (prebuilt.has(platform)) {
    throw noBinary(`the package @clipfiles/${platform}, which holds the clipfiles binary for ` +
      "this platform, is not installed: install clipfiles again with its optional " +
      `dependencies (without --omit=optional or --no-optional), ${setBinary}`);
  }
  throw noBinary(`there is no prebuilt clipfiles binary for ${platform}: build clipfiles ` +
    `from source and put it on PATH, ${setBinary}`);
}

function checkOptions(options, allowSignal) {
  if (options === null || typeof options !== "object") {
    throw new TypeError("the options must be an object");
  }
  const { signal, timeout, env = process.env } = options;
  if (timeout !== undefined && !(typeof timeout === "number" && timeout >= 0)) {
    throw new RangeError("options.timeout must be a number of milliseconds, 0 or more");
  }
  if (signal !== undefined) {
    if (!allowSignal) throw new TypeError("options.signal is for readCopiedFiles only");
    if (typeof signal?.aborted !== "boolean" || typeof signal.addEventListener !== "function") {
      throw new TypeError("options.signal must be an AbortSignal");
    }
  }
  if (env === null || typeof env !== "object") throw new TypeError("options.env must be an object");
  return { signal, timeout: timeout || 0, env };
}

function spawnOptions(env) {
  return { env, stdio: ["ignore", "pipe", "pipe"], windowsHide: true, shell: false };
}

// The tool's one line on standard error, without "clipfiles: " and the line end.
function toolMessage(stderr) {
  const lines = stderr.toString("utf8").split(/\r?\n/).filter((line) => line !== "");
  const own = lines.filter((line) => line.startsWith("clipfiles: "));
  const line = own.length > 0 ? own[own.length - 1] : lines[0];
  return line === undefined ? null : line.replace(/^clipfiles: /, "");
}

function parseList(stdout) {
  let list;
  try {
    list = JSON.parse(new TextDecoder("utf-8", { fatal: true }).decode(stdout));
  } catch {
    list = undefined;
  }
  if (!Array.isArray(list) || !list.every((entry) => typeof entry === "string")) {
    const start = JSON.stringify(stdout.subarray(0, 80).toString("utf8"));
    throw new ClipfilesError(
      `clipfiles printed something other than a JSON array of strings: ${start}`,
      { code: "ERR_CLIPFILES_BAD_OUTPUT", exitStatus: 0 },
    );
  }
  return list;
}

function result(status, signal, stdout, stderr) {
  if (status === 0) return parseList(stdout);
  if (signal) {
    throw new ClipfilesError(`clipfiles was ended by ${signal}`, {
      code: "ERR_CLIPFILES_SIGNAL",
      signal,
    });
  }
  const known = statuses[status];
  throw new ClipfilesError(toolMessage(stderr) ?? `clipfiles exited with status ${status}`, {
    code: known ? known.code : "ERR_CLIPFILES_EXIT",
    exitStatus: status,
  });
}

function cannotRun(binary, error) {
  return new ClipfilesError(`cannot run ${binary}: ${error.message}`, {
    code: "ERR_CLIPFILES_NO_BINARY",
    cause: error,
  });
}

// The tool changes nothing, so a stopped run loses nothing: it is killed outright.
const stopSignal = "SIGKILL";

function readCopiedFiles(options = {}) {
  return new Promise((resolve, reject) => {
    const { signal, timeout, env } = checkOptions(options, true);
    if (signal?.aborted) throw abortError(signal);
    const binary = findBinary({ env });
    const child = spawn(binary, [], spawnOptions(env));
    const stdout = [];
    const stderr = [];
    let stopped = null; // the error of a timeout or an abort, once the child is being killed
    let spawnFailure = null;
    const stop = (error) => {
      if (stopped) return;
      stopped = error;
      child.kill(stopSignal);
    };
    const timer = timeout ? setTimeout(() => stop(timeoutError(timeout)), timeout) : null;
    const onAbort = () => stop(abortError(signal));
    signal?.addEventListener("abort", onAbort, { once: true });
    child.stdout.on("data", (chunk) => stdout.push(chunk));
    child.stderr.on("data", (chunk) => stderr.push(chunk));
    child.on("error", (error) => {
      if (child.pid === undefined) spawnFailure = error;
    });
    // Settled once the child has exited and its pipes are closed, so none is left behind.
    child.on("close", (status, exitSignal) => {
      clearTimeout(timer);
      signal?.removeEventListener("abort", onAbort);
      if (stopped) return reject(stopped);
      if (spawnFailure) return reject(cannotRun(binary, spawnFailure));
      try {
        resolve(result(status, exitSignal, Buffer.concat(stdout), Buffer.concat(stderr)));
      } catch (error) {
        reject(error);
      }
    });
  });
}

function readCopiedFilesSync(options = {}) {
  const { timeout, env } = checkOptions(options, false);
  const binary = findBinary({ env });
  const run = spawnSync(binary, [], {
    ...spawnOptions(env),
    timeout: timeout || undefined,
    killSignal: stopSignal,
    maxBuffer: Infinity,
  });
  if (run.error) {
    if (run.error.code === "ETIMEDOUT") throw timeoutError(timeout);
    throw cannotRun(binary, run.error);
  }
  return result(run.status, run.signal, run.stdout, run.stderr);
}

module.exports = { readCopiedFiles, readCopiedFilesSync, findBinary, ClipfilesError };
