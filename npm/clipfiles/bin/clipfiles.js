#!/usr/bin/env node
"use strict";
// `npx clipfiles`: runs the native tool on this process's own standard streams, so that its
// output, its message and its exit status are the tool's, byte for byte.
const { spawn } = require("node:child_process");
const { constants } = require("node:os");
const { findBinary } = require("../index.cjs");

// No tool to run is "a program it needs is missing": sysexits' EX_UNAVAILABLE, as the tool's own.
const unavailable = 69;

let binary;
try {
  binary = findBinary();
} catch (error) {
  process.stderr.write(`clipfiles: ${error.message}\n`);
  process.exit(unavailable);
}

const child = spawn(binary, process.argv.slice(2), { stdio: "inherit" });
// A signal sent to this launcher alone (kill, a supervisor) goes on to the tool.
const forwarded = ["SIGINT", "SIGTERM", "SIGHUP"];
const forward = (signal) => child.kill(signal);
for (const signal of forwarded) process.on(signal, forward);

child.on("error", (error) => {
  process.stderr.write(`clipfiles: cannot run ${binary}: ${error.message}\n`);
  process.exit(unavailable);
});
child.on("exit", (status, signal) => {
  if (signal === null) process.exit(status);
  // Ended by a signal: end this process by the same one, with its default action restored.
  for (const name of forwarded) process.off(name, forward);
  process.kill(process.pid, signal);
  // Node ignores some signals (SIGPIPE) whatever is done; then end as a shell reports it.
  process.exit(128 + (constants.signals[signal] ?? 0));
});
