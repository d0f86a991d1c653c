// Validates binary glTF files with the glTF validator library (scripts/setup
// installs it; NODE_PATH names its node_modules folder). One line per file
// with its numbers of errors, warnings, infos and hints, then each message;
// the exit status is 1 when any file has an error or a warning.
//   node gltf_validate.js FILE.glb...
"use strict";
const fs = require("fs");
const path = require("path");
const validator = require("gltf-validator");

const severities = ["error", "warning", "info", "hint"];

async function main(files) {
    let bad = 0;
    for (const file of files) {
        const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
            uri: path.basename(file), format: "glb", maxIssues: 0, writeTimestamp: false,
        });
        const i = report.issues;
        console.log(`${file}: ${i.numErrors} errors, ${i.numWarnings} warnings, ${i.numInfos} infos, ${i.numHints} hints`);
        for (const m of i.messages) console.log(`  ${severities[m.severity]} ${m.code} ${m.pointer || ""}: ${m.message}`);
        if (i.numErrors > 0 || i.numWarnings > 0) bad++;
    }
    return bad;
}

main(process.argv.slice(2)).then(
    (bad) => process.exit(bad ? 1 : 0),
    (error) => { console.error(`gltf_validate: ${error}`); process.exit(2); });
