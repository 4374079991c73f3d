// Validates one GLB file and prints "errors=N warnings=N" followed by every error and warning.
// Exit status: 0 without errors, 1 with errors, 2 when the file could not be validated.
'use strict';
const fs = require('fs');
const validator = require('gltf-validator');

const file = process.argv[2];
validator
    .validateBytes(new Uint8Array(fs.readFileSync(file)), {uri: file, maxIssues: 100})
    .then((report) => {
        const issues = report.issues;
        console.log(`errors=${issues.numErrors} warnings=${issues.numWarnings}`);
        for (const message of issues.messages) {
            if (message.severity <= 1) {
                console.log(`${message.severity === 0 ? 'error' : 'warning'} ${message.code} ` +
                            `${message.pointer || ''} ${message.message}`);
            }
        }
        process.exit(issues.numErrors === 0 ? 0 : 1);
    })
    .catch((error) => {
        console.log(`could not validate: ${error}`);
        process.exit(2);
    });
