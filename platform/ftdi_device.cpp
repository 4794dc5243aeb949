// libftdi1 back end of the USB serial device: the first FTDI bridge on the bus.
#include "platform/serial_device.h"

#include <ftdi.h>
#include <libusb.h>

#include <chrono>
#include <climits>
#include <cstdio>

namespace platform {
namespace {

// A short latency timer makes the chip hand over a partly filled buffer quickly; the default
// 16 ms would be added to every acknowledgement.
constexpr unsigned char kLatencyMs = 1;
constexpr int kFailed = -1;

// libusb's own answer says more than libftdi's: it tells a missing permission from a device
// that is there but cannot be opened.
int probeAccess(libusb_device* dev) {
    libusb_device_handle* handle = nullptr;
    const int status = libusb_open(dev, &handle);
    if (handle != nullptr) libusb_close(handle);
    return status;
}

void explainOpenFailure(libusb_device* dev, int ftdiStatus, const char* ftdiText) {
    const int bus = libusb_get_bus_number(dev), address = libusb_get_device_address(dev);
    if (probeAccess(dev) == LIBUSB_ERROR_ACCESS) {
        std::fprintf(stderr,
                     "velt: permission denied on the FTDI bridge at USB bus %d device %d: "
                     "install the udev rule (make install-udev, or see README) and plug the "
                     "instrument in again\n",
                     bus, address);
    } else if (ftdiStatus == -5 || ftdiStatus == -11) {
        std::fprintf(stderr,
                     "velt: the FTDI bridge at USB bus %d device %d is busy: the kernel's "
                     "ftdi_sio serial driver or another program holds it (unbind or blacklist "
                     "ftdi_sio, see README)\n",
                     bus, address);
    } else {
        std::fprintf(stderr, "velt: the FTDI bridge at USB bus %d device %d did not open: %s\n",
                     bus, address, ftdiText != nullptr ? ftdiText : "unknown error");
    }
}

class FtdiDevice : public SerialDevice {
  public:
    FtdiDevice() = default;
    FtdiDevice(const FtdiDevice&) = delete;
    FtdiDevice& operator=(const FtdiDevice&) = delete;
    ~FtdiDevice() override {
        close();
        if (ctx_ != nullptr) ftdi_free(ctx_);
    }

    int open(int deviceIndex) override {
        close();
        if (deviceIndex < 0) return kFailed;
        if (ctx_ == nullptr) ctx_ = ftdi_new();
        // No context means no usable USB stack (e.g. no permission): the same as no device.
        if (ctx_ == nullptr) return kFailed;

        // Vendor and product 0 make libftdi look for every common FTDI bridge.
        ftdi_device_list* list = nullptr;
        const int found = ftdi_usb_find_all(ctx_, &list, 0, 0);
        int status = kFailed;
        if (found > deviceIndex) {
            ftdi_device_list* entry = list;
            for (int i = 0; i < deviceIndex && entry != nullptr; ++i) entry = entry->next;
            if (entry != nullptr) {
                const int opened = ftdi_usb_open_dev(ctx_, entry->dev);
                if (opened == 0) {
                    status = 0;
                    char serial[64] = "";
                    if (ftdi_usb_get_strings(ctx_, entry->dev, nullptr, 0, nullptr, 0, serial,
                                             sizeof serial) == 0)
                        serial_ = serial;
                } else
                    explainOpenFailure(entry->dev, opened, ftdi_get_error_string(ctx_));
            }
        } else if (found < 0) {
            std::fprintf(stderr, "velt: the USB bus could not be searched: %s\n",
                         ftdi_get_error_string(ctx_));
        }
        if (list != nullptr) ftdi_list_free(&list);
        if (status != 0) return kFailed;

        open_ = true;
        // Bytes left in the chip from an earlier session would be read as replies, and bytes
        // still queued for sending would arrive as a command.
        if (ftdi_tcioflush(ctx_) != 0 || ftdi_set_latency_timer(ctx_, kLatencyMs) != 0)
            std::fprintf(stderr, "velt: the FTDI bridge did not take its buffer settings: %s\n",
                         ftdi_get_error_string(ctx_));
        return 0;
    }

    std::string serialNumber() const override { return serial_; }

    int setBaudRate(int baud) override {
        if (!open_) return kFailed;
        return ftdi_set_baudrate(ctx_, baud) == 0 ? 0 : kFailed;
    }

    int setDataCharacteristics(int wordLength, int stopBits, int parity) override {
        if (!open_) return kFailed;
        if (wordLength != BITS_7 && wordLength != BITS_8) return kFailed;
        if (stopBits != STOP_BIT_1 && stopBits != STOP_BIT_15 && stopBits != STOP_BIT_2)
            return kFailed;
        if (parity < NONE || parity > SPACE) return kFailed;
        return ftdi_set_line_property(ctx_, static_cast<ftdi_bits_type>(wordLength),
                                      static_cast<ftdi_stopbits_type>(stopBits),
                                      static_cast<ftdi_parity_type>(parity)) == 0
                   ? 0
                   : kFailed;
    }

    int setFlowControl(int flow, std::uint8_t xon, std::uint8_t xoff) override {
        if (!open_) return kFailed;
        int status = kFailed;
        if (flow == SIO_XON_XOFF_HS)
            status = ftdi_setflowctrl_xonxoff(ctx_, xon, xoff);
        else if (flow == SIO_DISABLE_FLOW_CTRL || flow == SIO_RTS_CTS_HS || flow == SIO_DTR_DSR_HS)
            status = ftdi_setflowctrl(ctx_, flow);
        return status == 0 ? 0 : kFailed;
    }

    int setTimeouts(int readMs, int writeMs) override {
        if (!open_ || readMs < 0 || writeMs < 0) return kFailed;
        readTimeoutMs_ = readMs;
        ctx_->usb_read_timeout = readMs;
        ctx_->usb_write_timeout = writeMs;
        return 0;
    }

    int write(const std::uint8_t* data, std::size_t count, std::size_t* written) override {
        if (written != nullptr) *written = 0;
        if (!open_ || (data == nullptr && count > 0) || count > INT_MAX) return kFailed;
        std::size_t total = 0;
        while (total < count) {
            const int n = ftdi_write_data(ctx_, data + total, static_cast<int>(count - total));
            if (n <= 0) break;
            total += static_cast<std::size_t>(n);
        }
        if (written != nullptr) *written = total;
        return total == count ? 0 : kFailed;
    }

    int read(std::uint8_t* data, std::size_t count, std::size_t* received) override {
        if (received != nullptr) *received = 0;
        if (!open_ || (data == nullptr && count > 0) || count > INT_MAX) return kFailed;
        // ftdi_read_data hands over what the chip has buffered, often nothing yet, so collect
        // against the read time-out like the vendor driver does.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(readTimeoutMs_);
        std::size_t total = 0;
        int status = 0;
        while (total < count) {
            const int n = ftdi_read_data(ctx_, data + total, static_cast<int>(count - total));
            if (n < 0) {
                status = kFailed;
                break;
            }
            total += static_cast<std::size_t>(n);
            if (total < count && std::chrono::steady_clock::now() >= deadline) break;
        }
        if (received != nullptr) *received = total;
        return status;
    }

    int close() override {
        if (!open_) return 0;
        open_ = false;
        return ftdi_usb_close(ctx_) == 0 ? 0 : kFailed;
    }

  private:
    ftdi_context* ctx_ = nullptr;
    bool open_ = false;
    std::string serial_;
    int readTimeoutMs_ = 200;
};

} // namespace

std::unique_ptr<SerialDevice> makeFtdiDevice() {
    return std::make_unique<FtdiDevice>();
}

} // namespace platform
