/* The virtual handset device's control channel, shared by the driver (C, kernel mode) and the
 * feeder (C++, user mode). The driver carries no handset logic: it hands every output report that
 * a program writes to the HID device to the feeder, and every report the feeder sends to the HID
 * class driver as an input report. The feeder opens the channel through a device interface of
 * the class below, which the driver registers on each device it serves; it goes with the device.
 */
#ifndef TELIOX_VIRTUAL_HANDSET_CONTROL_H
#define TELIOX_VIRTUAL_HANDSET_CONTROL_H

/* {7B1C5A2E-3D4F-4E8A-9B61-0C2D7E5F9A13} */
#define VHANDSET_CONTROL_GUID_INIT {0x7b1c5a2e, 0x3d4f, 0x4e8a, {0x9b, 0x61, 0x0c, 0x2d, 0x7e, 0x5f, 0x9a, 0x13}}

/* The report as the handset sends and receives it: seven bytes, no report id. */
#define VHANDSET_REPORT_BYTES 7

#define VHANDSET_CTL(n) ((0x8000u << 16) | ((0x0001 | 0x0002) << 14) | ((0x800 + (n)) << 2) | 0 /* METHOD_BUFFERED */)
/* In: 7 bytes. Delivered to the HID class driver as the device's next input report. */
#define IOCTL_VHANDSET_SEND_INPUT VHANDSET_CTL(0)
/* Out: 7 bytes. The oldest output report not yet taken; pends until one is written. */
#define IOCTL_VHANDSET_TAKE_OUTPUT VHANDSET_CTL(1)

/* The driver's service; its value "ProductId" (REG_DWORD) is the product id the next device
 * added reports (0x1402 when absent). */
#define VHANDSET_SERVICE L"TelioxVHandset"
#define VHANDSET_HARDWARE_ID L"root\\TelioxVirtualHandset"
#define VHANDSET_VENDOR_ID 0x11F1
#define VHANDSET_DEFAULT_PRODUCT_ID 0x1402

#endif
