#include "companions/tarvoapi/Protocol.h"

#include <algorithm>
#include <cstring>

#include "platform/ClientApi.h"

namespace tarvoapi {

namespace {

constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kMaxFieldSize = 0xFFFF;

std::uint32_t ReadU32(std::span<const std::uint8_t> data) {
  return std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 | std::uint32_t{data[2]} << 16 |
         std::uint32_t{data[3]} << 24;
}

// Reads an integer field; false when it is not 4 bytes long.
bool TakeU32(const Field& field, std::uint32_t& value) {
  if (field.data.size() != 4) return false;
  value = ReadU32(field.data);
  return true;
}

bool TakeI32(const Field& field, std::int32_t& value) {
  std::uint32_t bits = 0;
  if (!TakeU32(field, bits)) return false;
  value = static_cast<std::int32_t>(bits);
  return true;
}

std::vector<std::uint8_t> EncodeCall(const CallInfo& call) {
  FieldWriter writer;
  writer.I32(kFieldCallId, call.id);
  writer.Text(kFieldCallStatus, call.status);
  writer.I32(kFieldCallConference, call.conference);
  writer.Text(kFieldCallPartner, call.partner);
  writer.U32(kFieldCallIncoming, call.incoming ? 1 : 0);
  return writer.Take();
}

std::optional<CallInfo> DecodeCall(std::span<const std::uint8_t> body) {
  const auto fields = SplitFields(body);
  if (!fields) return std::nullopt;
  CallInfo call;
  bool hasId = false;
  for (const auto& field : *fields) {
    std::uint32_t flag = 0;
    switch (field.tag) {
      case kFieldCallId:
        if (!TakeI32(field, call.id)) return std::nullopt;
        hasId = true;
        break;
      case kFieldCallStatus:
        call.status = FieldText(field.data, kMaxCallStatus);
        break;
      case kFieldCallConference:
        if (!TakeI32(field, call.conference)) return std::nullopt;
        break;
      case kFieldCallPartner:
        call.partner = FieldText(field.data, kMaxPartner);
        break;
      case kFieldCallIncoming:
        if (!TakeU32(field, flag)) return std::nullopt;
        call.incoming = flag != 0;
        break;
      default:
        break;
    }
  }
  if (!hasId) return std::nullopt;
  return call;
}

}  // namespace

bool IsLibraryKind(std::uint32_t kind) { return kind >= kAttach && kind <= kUpdateContacts; }

bool IsClientKind(std::uint32_t kind) { return kind == kNotify || kind == kClientState; }

std::string FieldText(std::span<const std::uint8_t> bytes, std::size_t limit) {
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const auto length = std::min(static_cast<std::size_t>(end - bytes.begin()), limit);
  return std::string(reinterpret_cast<const char*>(bytes.data()), length);
}

std::optional<std::vector<Field>> SplitFields(std::span<const std::uint8_t> body) {
  std::vector<Field> fields;
  std::size_t at = 0;
  while (at < body.size()) {
    if (body.size() - at < kHeaderSize) return std::nullopt;
    const auto tag = static_cast<std::uint16_t>(body[at] | body[at + 1] << 8);
    const std::size_t length = body[at + 2] | body[at + 3] << 8;
    at += kHeaderSize;
    if (body.size() - at < length) return std::nullopt;
    fields.push_back(Field{tag, body.subspan(at, length)});
    at += length;
  }
  return fields;
}

void FieldWriter::U32(std::uint16_t tag, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  Bytes(tag, bytes);
}

void FieldWriter::Bytes(std::uint16_t tag, std::span<const std::uint8_t> data) {
  const std::size_t length = std::min(data.size(), kMaxFieldSize);
  data_.push_back(static_cast<std::uint8_t>(tag));
  data_.push_back(static_cast<std::uint8_t>(tag >> 8));
  data_.push_back(static_cast<std::uint8_t>(length));
  data_.push_back(static_cast<std::uint8_t>(length >> 8));
  data_.insert(data_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
}

void FieldWriter::Text(std::uint16_t tag, std::string_view text) {
  Bytes(tag, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::vector<std::uint8_t> Encode(const LibraryMessage& message) {
  FieldWriter writer;
  switch (message.kind) {
    case kAttach:
      writer.U32(kFieldVersion, message.version);
      writer.U32(kFieldProcess, message.process);
      break;
    case kCommand:
    case kCommandDirect:
      writer.Text(kFieldText, message.text);
      break;
    default:
      break;
  }
  return writer.Take();
}

std::optional<LibraryMessage> DecodeLibraryMessage(std::uint32_t kind, std::span<const std::uint8_t> body) {
  if (!IsLibraryKind(kind) || body.size() > kMaxBody) return std::nullopt;
  const auto fields = SplitFields(body);
  if (!fields) return std::nullopt;
  LibraryMessage message;
  message.kind = kind;
  message.version = 0;
  bool hasText = false;
  for (const auto& field : *fields) {
    switch (field.tag) {
      case kFieldVersion:
        if (!TakeU32(field, message.version)) return std::nullopt;
        break;
      case kFieldProcess:
        if (!TakeU32(field, message.process)) return std::nullopt;
        break;
      case kFieldText:
        // One past the limit, so an over-long command is seen as such and refused.
        message.text = FieldText(field.data, kMaxCommand + 1);
        if (message.text.size() > kMaxCommand) return std::nullopt;
        hasText = true;
        break;
      default:
        break;
    }
  }
  if ((kind == kCommand || kind == kCommandDirect) && !hasText) return std::nullopt;
  return message;
}

std::vector<std::uint8_t> Encode(const ClientMessage& message) {
  FieldWriter writer;
  if (message.kind == kNotify) writer.U32(kFieldMessage, message.message);
  const bool table = message.kind == kClientState || message.message == platform::kClientAttached;
  const bool oneCall = message.kind == kNotify && message.message == platform::kClientCallStatus;
  switch (message.kind == kNotify ? message.message : 0) {
    case platform::kClientStatusText:
      writer.Text(kFieldText, message.text);
      break;
    case platform::kClientContactList:
      for (const auto& contact : message.contacts) writer.Text(kFieldContact, contact);
      break;
    case platform::kClientCallStatus:
      writer.I32(kFieldParam, message.param);
      break;
    case platform::kClientVoicemailList:
      writer.I32(kFieldParam, message.param);
      for (const auto& record : message.voicemails) writer.Bytes(kFieldVoicemail, record);
      break;
    case platform::kClientVoicemailStatus:
      writer.I32(kFieldId, message.id);
      writer.I32(kFieldParam, message.param);
      break;
    default:
      break;
  }
  if (table || (oneCall && !message.calls.empty())) {
    const std::size_t count = oneCall ? 1 : message.calls.size();
    for (std::size_t i = 0; i < count; ++i) writer.Bytes(kFieldCall, EncodeCall(message.calls[i]));
  }
  if (table && message.recentHandle) writer.Text(kFieldHandle, *message.recentHandle);
  return writer.Take();
}

std::optional<ClientMessage> DecodeClientMessage(std::uint32_t kind, std::span<const std::uint8_t> body) {
  if (!IsClientKind(kind) || body.size() > kMaxBody) return std::nullopt;
  const auto fields = SplitFields(body);
  if (!fields) return std::nullopt;
  ClientMessage message;
  message.kind = kind;
  bool hasMessage = false;
  for (const auto& field : *fields) {
    switch (field.tag) {
      case kFieldMessage:
        if (!TakeU32(field, message.message)) return std::nullopt;
        hasMessage = true;
        break;
      case kFieldParam:
        if (!TakeI32(field, message.param)) return std::nullopt;
        break;
      case kFieldId:
        if (!TakeI32(field, message.id)) return std::nullopt;
        break;
      case kFieldText:
        message.text = FieldText(field.data, kMaxStatusText);
        break;
      case kFieldCall: {
        auto call = DecodeCall(field.data);
        if (!call) return std::nullopt;
        if (message.calls.size() < kMaxCalls) message.calls.push_back(std::move(*call));
        break;
      }
      case kFieldVoicemail: {
        if (field.data.size() != kVoicemailSize) return std::nullopt;
        VoicemailRecord record;
        std::memcpy(record.data(), field.data.data(), kVoicemailSize);
        message.voicemails.push_back(record);
        break;
      }
      case kFieldHandle:
        message.recentHandle = FieldText(field.data, kMaxHandle);
        break;
      case kFieldContact:
        if (message.contacts.size() < kMaxContacts) message.contacts.push_back(FieldText(field.data, kMaxPartner));
        break;
      default:
        break;
    }
  }
  if (kind == kNotify) {
    if (!hasMessage || message.message < platform::kClientAttached ||
        message.message > platform::kClientVoicemailStatus) {
      return std::nullopt;
    }
    // A call status change without its call says nothing.
    if (message.message == platform::kClientCallStatus && message.calls.empty()) return std::nullopt;
  }
  return message;
}

}  // namespace tarvoapi
