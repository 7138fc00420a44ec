/* The virtual handset: a root-enumerated HID minidriver with the handset's vendor and product ids
 * and seven-byte input and output reports, so that the real Hidmar.dll finds it through SetupAPI
 * and speaks to it through hid.dll and overlapped file I/O exactly as it would to the USB handset.
 *
 * It holds no handset behaviour. Output reports a program writes wait in a short queue until
 * the feeder takes them (IOCTL_VHANDSET_TAKE_OUTPUT on the control interface); reports the
 * feeder sends (IOCTL_VHANDSET_SEND_INPUT) complete the HID class driver's pending reads.
 *
 * The HID class driver takes over the driver object's dispatch table when the minidriver
 * registers; the control requests are caught by wrapping its device-control routine afterwards
 * and answered only for our own function devices, everything else goes on to the class driver.
 *
 * A write never waits for the feeder: the class driver on some systems sends it synchronously
 * from the thread that serves every request of this driver, so a pending write could stall the
 * feeder's own requests behind it. It is queued and completed at once; when the feeder has not
 * taken what waits for over a second, or the queue is full, the write fails — a handset that
 * stops answering makes writes fail instead of blocking the program's sender.
 */
#include <ntddk.h>

#include "VirtualHandsetControl.h"

/* Minidriver interface of the HID class driver (hidport.h is not part of mingw-w64's DDK). */
typedef struct {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION;

typedef struct {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION;

typedef struct {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES;

#include <pshpack1.h>
typedef struct {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  struct {
    UCHAR bReportType;
    USHORT wReportLength;
  } DescriptorList[1];
} HID_DESCRIPTOR;
#include <poppack.h>

typedef struct {
  PUCHAR reportBuffer;
  ULONG reportBufferLen;
  UCHAR reportId;
} HID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(HID_MINIDRIVER_REGISTRATION* registration);

#define HID_REVISION 0x00000001
#define HID_CTL_CODE(n) CTL_CODE(FILE_DEVICE_KEYBOARD, (n), METHOD_NEITHER, FILE_ANY_ACCESS)
#define HID_GET_DEVICE_DESCRIPTOR HID_CTL_CODE(0)
#define HID_GET_REPORT_DESCRIPTOR HID_CTL_CODE(1)
#define HID_READ_REPORT HID_CTL_CODE(2)
#define HID_WRITE_REPORT HID_CTL_CODE(3)
#define HID_GET_STRING HID_CTL_CODE(4)
#define HID_ACTIVATE_DEVICE HID_CTL_CODE(7)
#define HID_DEACTIVATE_DEVICE HID_CTL_CODE(8)
#define HID_GET_DEVICE_ATTRIBUTES HID_CTL_CODE(9)

/* Vendor-defined page; seven data bytes each way, no report id. */
static const UCHAR kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  /* usage page (vendor 0xFF00) */
    0x09, 0x01,        /* usage 1 */
    0xA1, 0x01,        /* collection (application) */
    0x15, 0x00,        /*   logical minimum 0 */
    0x26, 0xFF, 0x00,  /*   logical maximum 255 */
    0x75, 0x08,        /*   report size 8 */
    0x95, VHANDSET_REPORT_BYTES, /* report count */
    0x09, 0x02,        /*   usage 2 */
    0x81, 0x02,        /*   input (data, variable, absolute) */
    0x95, VHANDSET_REPORT_BYTES, /* report count */
    0x09, 0x03,        /*   usage 3 */
    0x91, 0x02,        /*   output (data, variable, absolute) */
    0xC0,              /* end collection */
};

#define QUEUE_REPORTS 32
/* How long an output report may wait for the feeder before writes fail, in 100 ns units. */
#define FEEDER_PATIENCE (10 * 1000 * 1000LL)

typedef struct {
  UCHAR bytes[QUEUE_REPORTS][VHANDSET_REPORT_BYTES];
  LONGLONG since[QUEUE_REPORTS];
  ULONG head;
  ULONG count;
} REPORT_QUEUE;

typedef struct {
  KSPIN_LOCK lock;
  BOOLEAN removed;
  USHORT productId;
  LIST_ENTRY reads;   /* the class driver's IOCTL_HID_READ_REPORT, waiting for input */
  LIST_ENTRY takes;   /* the feeder's IOCTL_VHANDSET_TAKE_OUTPUT, waiting for output */
  REPORT_QUEUE input;
  REPORT_QUEUE output;
  UNICODE_STRING control;
} VHANDSET;

/* Our function devices, so that the control requests are answered only on them. */
#define MAX_DEVICES 4
static KSPIN_LOCK devicesLock;
static PDEVICE_OBJECT devices[MAX_DEVICES];
static UNICODE_STRING serviceKey;
static PDRIVER_DISPATCH classDeviceControl;
static const GUID kControlGuid = VHANDSET_CONTROL_GUID_INIT;

static void CopyBytes(PUCHAR to, const UCHAR* from, ULONG count) {
  ULONG i;
  for (i = 0; i < count; ++i) to[i] = from[i];
}

/* 100 ns units. The system time rather than the interrupt time: Wine's driver host does not keep
 * the shared interrupt time current (measured), and a clock change only shortens or stretches
 * one patience span once. */
static LONGLONG Now(void) {
  LARGE_INTEGER now;
  KeQuerySystemTime(&now);
  return now.QuadPart;
}

static void Push(REPORT_QUEUE* queue, const UCHAR* report) {
  ULONG slot;
  if (queue->count == QUEUE_REPORTS) { /* full: the oldest goes */
    queue->head = (queue->head + 1) % QUEUE_REPORTS;
    --queue->count;
  }
  slot = (queue->head + queue->count) % QUEUE_REPORTS;
  CopyBytes(queue->bytes[slot], report, VHANDSET_REPORT_BYTES);
  queue->since[slot] = Now();
  ++queue->count;
}

static BOOLEAN Pop(REPORT_QUEUE* queue, PUCHAR report) {
  if (!queue->count) return FALSE;
  CopyBytes(report, queue->bytes[queue->head], VHANDSET_REPORT_BYTES);
  queue->head = (queue->head + 1) % QUEUE_REPORTS;
  --queue->count;
  return TRUE;
}

static VHANDSET* DeviceState(PDEVICE_OBJECT device) {
  return (VHANDSET*)((HID_DEVICE_EXTENSION*)device->DeviceExtension)->MiniDeviceExtension;
}

static BOOLEAN IsOurs(PDEVICE_OBJECT device) {
  KIRQL irql;
  BOOLEAN found = FALSE;
  int i;
  KeAcquireSpinLock(&devicesLock, &irql);
  for (i = 0; i < MAX_DEVICES; ++i) found |= devices[i] == device;
  KeReleaseSpinLock(&devicesLock, irql);
  return found;
}

static void Remember(PDEVICE_OBJECT device, PDEVICE_OBJECT replaced) {
  KIRQL irql;
  int i;
  KeAcquireSpinLock(&devicesLock, &irql);
  for (i = 0; i < MAX_DEVICES; ++i) {
    if (devices[i] == replaced) {
      devices[i] = device;
      break;
    }
  }
  KeReleaseSpinLock(&devicesLock, irql);
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* Pending requests. The lock guards both lists; a request whose cancel routine already runs is
 * unlinked onto itself, so the routine's own unlinking does nothing. */
static VOID NTAPI CancelWaiting(PDEVICE_OBJECT device, PIRP irp) {
  VHANDSET* state = (VHANDSET*)irp->Tail.Overlay.DriverContext[0];
  KIRQL irql;
  (void)device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KeAcquireSpinLock(&state->lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&state->lock, irql);
  Complete(irp, STATUS_CANCELLED, 0);
}

/* Under the lock: true when the request now waits in `list`, false when it was cancelled. */
static BOOLEAN WaitLocked(VHANDSET* state, PLIST_ENTRY list, PIRP irp) {
  irp->Tail.Overlay.DriverContext[0] = state;
  IoSetCancelRoutine(irp, CancelWaiting);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) return FALSE;
  IoMarkIrpPending(irp);
  InsertTailList(list, &irp->Tail.Overlay.ListEntry);
  return TRUE;
}

/* Under the lock: the oldest waiting request of `list` that is not being cancelled, or NULL. */
static PIRP NextLocked(PLIST_ENTRY list) {
  while (!IsListEmpty(list)) {
    PLIST_ENTRY entry = RemoveHeadList(list);
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (IoSetCancelRoutine(irp, NULL)) return irp;
    InitializeListHead(entry);
  }
  return NULL;
}

static void FailAllWaiting(VHANDSET* state) {
  KIRQL irql;
  PIRP irp;
  for (;;) {
    KeAcquireSpinLock(&state->lock, &irql);
    irp = NextLocked(&state->reads);
    if (!irp) irp = NextLocked(&state->takes);
    KeReleaseSpinLock(&state->lock, irql);
    if (!irp) return;
    Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
}

/* The oldest report of `queue` into `to` (seven bytes), or the request waits in `waiting` for
 * the next one. */
static NTSTATUS TakeOrWait(VHANDSET* state, REPORT_QUEUE* queue, PLIST_ENTRY waiting, PIRP irp, PUCHAR to) {
  UCHAR report[VHANDSET_REPORT_BYTES];
  KIRQL irql;
  BOOLEAN have;
  KeAcquireSpinLock(&state->lock, &irql);
  if (state->removed) {
    KeReleaseSpinLock(&state->lock, irql);
    return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  have = Pop(queue, report);
  if (!have && WaitLocked(state, waiting, irp)) {
    KeReleaseSpinLock(&state->lock, irql);
    return STATUS_PENDING;
  }
  KeReleaseSpinLock(&state->lock, irql);
  if (!have) return Complete(irp, STATUS_CANCELLED, 0);
  CopyBytes(to, report, VHANDSET_REPORT_BYTES);
  return Complete(irp, STATUS_SUCCESS, VHANDSET_REPORT_BYTES);
}

/* The class driver's read: the oldest input report, or a wait for the next. */
static NTSTATUS ReadReport(VHANDSET* state, PIRP irp, ULONG outSize) {
  if (outSize < VHANDSET_REPORT_BYTES || !irp->UserBuffer) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  return TakeOrWait(state, &state->input, &state->reads, irp, (PUCHAR)irp->UserBuffer);
}

/* The class driver's write: to the feeder's waiting request, or into the queue. */
static NTSTATUS WriteReport(VHANDSET* state, PIRP irp) {
  const HID_XFER_PACKET* packet = (const HID_XFER_PACKET*)irp->UserBuffer;
  UCHAR report[VHANDSET_REPORT_BYTES] = {0};
  const UCHAR* data;
  ULONG length;
  KIRQL irql;
  PIRP take;
  NTSTATUS status = STATUS_SUCCESS;
  if (!packet || !packet->reportBuffer) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  /* Some class drivers pass the report id byte (0) in front of the data, some do not. */
  data = packet->reportBuffer;
  length = packet->reportBufferLen;
  if (length == VHANDSET_REPORT_BYTES + 1 && data[0] == 0) {
    ++data;
    --length;
  }
  if (length != VHANDSET_REPORT_BYTES) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  CopyBytes(report, data, VHANDSET_REPORT_BYTES);

  KeAcquireSpinLock(&state->lock, &irql);
  take = NULL;
  if (state->removed) {
    status = STATUS_DEVICE_NOT_CONNECTED;
  } else if ((take = NextLocked(&state->takes)) == NULL) {
    const LONGLONG now = Now();
    const REPORT_QUEUE* output = &state->output;
    if (output->count == QUEUE_REPORTS || (output->count && now - output->since[output->head] > FEEDER_PATIENCE)) {
      status = STATUS_DEVICE_NOT_READY;
    } else {
      Push(&state->output, report);
    }
  }
  KeReleaseSpinLock(&state->lock, irql);
  if (take) {
    CopyBytes((PUCHAR)take->AssociatedIrp.SystemBuffer, report, VHANDSET_REPORT_BYTES);
    Complete(take, STATUS_SUCCESS, VHANDSET_REPORT_BYTES);
  }
  /* Written: the whole report with its id byte, as a program counts it. */
  return Complete(irp, status, status == STATUS_SUCCESS ? VHANDSET_REPORT_BYTES + 1 : 0);
}

static NTSTATUS GetString(PIRP irp, ULONG outSize) {
  static const WCHAR kName[] = L"Virtual handset";
  if (!irp->UserBuffer || outSize < sizeof(kName)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  CopyBytes((PUCHAR)irp->UserBuffer, (const UCHAR*)kName, sizeof(kName));
  return Complete(irp, STATUS_SUCCESS, sizeof(kName));
}

static NTSTATUS NTAPI InternalIoctl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
  VHANDSET* state = DeviceState(device);

  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case HID_GET_DEVICE_DESCRIPTOR: {
      HID_DESCRIPTOR* descriptor = (HID_DESCRIPTOR*)irp->UserBuffer;
      if (!descriptor || outSize < sizeof(*descriptor)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      descriptor->bLength = sizeof(*descriptor);
      descriptor->bDescriptorType = 0x21;
      descriptor->bcdHID = 0x0100;
      descriptor->bCountry = 0;
      descriptor->bNumDescriptors = 1;
      descriptor->DescriptorList[0].bReportType = 0x22;
      descriptor->DescriptorList[0].wReportLength = sizeof(kReportDescriptor);
      return Complete(irp, STATUS_SUCCESS, sizeof(*descriptor));
    }
    case HID_GET_REPORT_DESCRIPTOR:
      if (!irp->UserBuffer || outSize < sizeof(kReportDescriptor)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      CopyBytes((PUCHAR)irp->UserBuffer, kReportDescriptor, sizeof(kReportDescriptor));
      return Complete(irp, STATUS_SUCCESS, sizeof(kReportDescriptor));
    case HID_GET_DEVICE_ATTRIBUTES: {
      HID_DEVICE_ATTRIBUTES* attributes = (HID_DEVICE_ATTRIBUTES*)irp->UserBuffer;
      ULONG i;
      if (!attributes || outSize < sizeof(*attributes)) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      for (i = 0; i < sizeof(*attributes); ++i) ((PUCHAR)attributes)[i] = 0;
      attributes->Size = sizeof(*attributes);
      attributes->VendorID = VHANDSET_VENDOR_ID;
      attributes->ProductID = state->productId;
      attributes->VersionNumber = 0x0100;
      return Complete(irp, STATUS_SUCCESS, sizeof(*attributes));
    }
    case HID_READ_REPORT:
      return ReadReport(state, irp, outSize);
    case HID_WRITE_REPORT:
      return WriteReport(state, irp);
    case HID_GET_STRING:
      return GetString(irp, outSize);
    case HID_ACTIVATE_DEVICE:
    case HID_DEACTIVATE_DEVICE:
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      return Complete(irp, STATUS_NOT_SUPPORTED, 0);
  }
}

/* The feeder's requests on the control interface. */
static NTSTATUS Control(VHANDSET* state, PIRP irp, ULONG code, ULONG inSize, ULONG outSize) {
  UCHAR report[VHANDSET_REPORT_BYTES];
  KIRQL irql;
  PIRP read = NULL;
  if (code == IOCTL_VHANDSET_SEND_INPUT) {
    if (inSize != VHANDSET_REPORT_BYTES) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    CopyBytes(report, (const UCHAR*)irp->AssociatedIrp.SystemBuffer, VHANDSET_REPORT_BYTES);
    KeAcquireSpinLock(&state->lock, &irql);
    if (state->removed) {
      KeReleaseSpinLock(&state->lock, irql);
      return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    read = NextLocked(&state->reads);
    if (!read) Push(&state->input, report);
    KeReleaseSpinLock(&state->lock, irql);
    if (read) {
      CopyBytes((PUCHAR)read->UserBuffer, report, VHANDSET_REPORT_BYTES);
      Complete(read, STATUS_SUCCESS, VHANDSET_REPORT_BYTES);
    }
    return Complete(irp, STATUS_SUCCESS, 0);
  }
  /* IOCTL_VHANDSET_TAKE_OUTPUT */
  if (outSize < VHANDSET_REPORT_BYTES) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  return TakeOrWait(state, &state->output, &state->takes, irp, (PUCHAR)irp->AssociatedIrp.SystemBuffer);
}

static NTSTATUS NTAPI DeviceIoctl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if ((code == IOCTL_VHANDSET_SEND_INPUT || code == IOCTL_VHANDSET_TAKE_OUTPUT) && IsOurs(device)) {
    return Control(DeviceState(device), irp, code, stack->Parameters.DeviceIoControl.InputBufferLength,
                   stack->Parameters.DeviceIoControl.OutputBufferLength);
  }
  return classDeviceControl(device, irp);
}

static NTSTATUS NTAPI Pnp(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  HID_DEVICE_EXTENSION* extension = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
  VHANDSET* state = (VHANDSET*)extension->MiniDeviceExtension;
  KIRQL irql;

  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      KeAcquireSpinLock(&state->lock, &irql);
      state->removed = FALSE;
      KeReleaseSpinLock(&state->lock, irql);
      if (state->control.Buffer) IoSetDeviceInterfaceState(&state->control, TRUE);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_REMOVE_DEVICE:
      KeAcquireSpinLock(&state->lock, &irql);
      state->removed = TRUE;
      KeReleaseSpinLock(&state->lock, irql);
      FailAllWaiting(state);
      if (stack->MinorFunction == IRP_MN_REMOVE_DEVICE) {
        if (state->control.Buffer) {
          IoSetDeviceInterfaceState(&state->control, FALSE);
          RtlFreeUnicodeString(&state->control);
        }
        Remember(NULL, device);
      }
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_CANCEL_REMOVE_DEVICE:
      KeAcquireSpinLock(&state->lock, &irql);
      state->removed = FALSE;
      KeReleaseSpinLock(&state->lock, irql);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(extension->NextDeviceObject, irp);
}

static NTSTATUS NTAPI Power(PDEVICE_OBJECT device, PIRP irp) {
  HID_DEVICE_EXTENSION* extension = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(extension->NextDeviceObject, irp);
}

/* The product id the feeder chose for this device, from the service key. */
static USHORT ProductId(void) {
  OBJECT_ATTRIBUTES attributes;
  UNICODE_STRING name;
  HANDLE key;
  ULONG size = 0;
  USHORT product = VHANDSET_DEFAULT_PRODUCT_ID;
  union {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
  } value;
  if (!serviceKey.Buffer) return product;
  InitializeObjectAttributes(&attributes, &serviceKey, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return product;
  RtlInitUnicodeString(&name, L"ProductId");
  if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value, sizeof(value), &size)) &&
      value.info.Type == REG_DWORD && value.info.DataLength == sizeof(ULONG)) {
    const ULONG chosen = *(const ULONG*)value.info.Data;
    if (chosen && chosen <= 0xFFFF) product = (USHORT)chosen;
  }
  ZwClose(key);
  return product;
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device) {
  HID_DEVICE_EXTENSION* extension = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
  VHANDSET* state = (VHANDSET*)extension->MiniDeviceExtension;
  (void)driver;
  KeInitializeSpinLock(&state->lock);
  InitializeListHead(&state->reads);
  InitializeListHead(&state->takes);
  state->removed = FALSE;
  state->productId = ProductId();
  state->input.head = state->input.count = 0;
  state->output.head = state->output.count = 0;
  state->control.Buffer = NULL;
  if (!NT_SUCCESS(IoRegisterDeviceInterface(extension->PhysicalDeviceObject, &kControlGuid, NULL, &state->control))) {
    state->control.Buffer = NULL;
  }
  Remember(device, NULL);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  (void)driver;
  if (serviceKey.Buffer) ExFreePool(serviceKey.Buffer);
  serviceKey.Buffer = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  HID_MINIDRIVER_REGISTRATION registration;
  NTSTATUS status;
  ULONG i;

  KeInitializeSpinLock(&devicesLock);
  serviceKey.Length = 0;
  serviceKey.MaximumLength = registryPath->Length + sizeof(WCHAR);
  serviceKey.Buffer = (PWCH)ExAllocatePoolWithTag(NonPagedPool, serviceKey.MaximumLength, 0x64734854u /* "THsd" */);
  if (serviceKey.Buffer) RtlCopyUnicodeString(&serviceKey, registryPath);

  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;
  driver->MajorFunction[IRP_MJ_PNP] = Pnp;
  driver->MajorFunction[IRP_MJ_POWER] = Power;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalIoctl;

  for (i = 0; i < sizeof(registration); ++i) ((PUCHAR)&registration)[i] = 0;
  registration.Revision = HID_REVISION;
  registration.DriverObject = driver;
  registration.RegistryPath = registryPath;
  registration.DeviceExtensionSize = sizeof(VHANDSET);
  registration.DevicesArePolled = FALSE;
  status = HidRegisterMinidriver(&registration);
  if (!NT_SUCCESS(status)) return status;

  classDeviceControl = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceIoctl;
  return STATUS_SUCCESS;
}
