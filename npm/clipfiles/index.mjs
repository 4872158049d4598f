// The ES module entry: the CommonJS implementation's exports, so that `import` and `require`
// share one module and one ClipfilesError class.
import clipfiles from "./index.cjs";

export const { readCopiedFiles, readCopiedFilesSync, findBinary, ClipfilesError } = clipfiles;
export default clipfiles;
