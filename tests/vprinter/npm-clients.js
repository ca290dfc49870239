'use strict';
// Drives nvlogo-printer with an ESC/POS client from the npm registry, as installed by
// scripts/install-deps --test: prints a small receipt, then reads the status. Prints
// "print: RESULT" and "status: RESULT", or "error: WHY" and exits 1.
//   node npm-clients.js MODULES CLIENT HOST PORT PICTURE
const path = require('path');

const [modules, client, host, port, picture] = process.argv.slice(2);
const load = (name) => require(path.join(modules, 'node_modules', name));

async function receiptio() {
    const receipt = load('receiptio');
    // receiptio talks to port 9100 of the host it is given, and only to it.
    const doc = '^^^Receipt\n\nCoffee | 3.50\n{code:nvlogo; option:qrcode,4,l}\n';
    console.log('print: ' + await receipt.print(doc, `-d ${host} -t 20`));
    console.log('status: ' + await receipt.print('', `-d ${host} -q`));
}

async function thermalPrinter() {
    const { ThermalPrinter, PrinterTypes } = load('node-thermal-printer');
    const printer = new ThermalPrinter({
        type: PrinterTypes.EPSON,
        interface: `tcp://${host}:${port}`,
        options: { timeout: 10000 },
    });
    printer.println('Receipt');
    await printer.printImage(picture);
    printer.cut();
    await printer.execute();
    console.log('print: sent');
    printer.clear();
    await printer.getStatus();
    const answer = await printer.execute({ waitForResponse: true });
    console.log('status: ' + Buffer.from(answer).toString('hex'));
}

(client === 'receiptio' ? receiptio() : thermalPrinter()).catch((error) => {
    console.log('error: ' + error.message);
    process.exit(1);
});
