/* SPDX-License-Identifier: GPL-2.0 */
/* Shared with the kernel module, in the kernel's coding style. */
/* clang-format off */
/*
 * Wire format between the i2c-modelbus adapter and its userspace responder.
 *
 * Each transfer the adapter is given (all messages of one i2c_transfer, so
 * repeated starts stay inside one transaction) is read from /dev/i2c-modelbus
 * as one request:
 *
 *   struct modelbus_request, nmsgs x struct modelbus_msg, then the bytes of
 *   every write message, in message order.
 *
 * The responder answers with one write():
 *
 *   struct modelbus_reply, then, when status is 0, the bytes of every read
 *   message, in message order.
 *
 * status is 0 when every message went through, else a negative errno from
 * -1 to -MODELBUS_MAX_ERRNO that the transfer returns (-ENXIO: address not
 * acknowledged, -EIO: data byte not acknowledged, ...). The adapter refuses
 * any other status, in particular the kernel's own codes from -512 on
 * (-ERESTARTSYS and the like, which must never reach a caller): the write
 * fails with EINVAL and the transfer with -EPROTO. So does the transfer when
 * a reply has the wrong length or its buffer faults (EINVAL, EFAULT), or
 * when the buffer a request is read into faults (EFAULT).
 *
 * A transfer waits for its reply at most the adapter's timeout (the
 * timeout_ms module parameter, or what a user set with i2c-dev's
 * I2C_TIMEOUT), bounded by MODELBUS_MAX_TIMEOUT_MS; the parameter reads back
 * the timeout the next transfer gets. A fatal signal ends the wait early.
 */
#ifndef I2C_MODELBUS_H
#define I2C_MODELBUS_H

#include <linux/types.h>

#define MODELBUS_DEVICE "/dev/i2c-modelbus"
#define MODELBUS_ADAPTER_NAME "i2c-modelbus"

/* As many messages and bytes per message as i2c-dev passes in one I2C_RDWR. */
#define MODELBUS_MAX_MSGS 42
#define MODELBUS_MAX_MSG_LEN 8192

/* EHWPOISON, the last errno userspace has a name for. */
#define MODELBUS_MAX_ERRNO 133

/* The longest a transfer waits for its reply, whatever its timeout says. */
#define MODELBUS_MAX_TIMEOUT_MS 5000

/* modelbus_msg.flags */
#define MODELBUS_MSG_READ 0x0001

struct modelbus_msg {
	__u16 addr; /* 7-bit address */
	__u16 flags;
	__u16 len;
	__u16 reserved;
};

struct modelbus_request {
	__u32 id;
	__u32 nmsgs;
};

struct modelbus_reply {
	__u32 id; /* the request's */
	__s32 status;
};

#define MODELBUS_MAX_REQUEST                                                   \
	(sizeof(struct modelbus_request) +                                     \
	 MODELBUS_MAX_MSGS *                                                   \
		 (sizeof(struct modelbus_msg) + MODELBUS_MAX_MSG_LEN))

#define MODELBUS_MAX_REPLY                                                     \
	(sizeof(struct modelbus_reply) +                                       \
	 MODELBUS_MAX_MSGS * MODELBUS_MAX_MSG_LEN)

#endif /* I2C_MODELBUS_H */
