// SPDX-License-Identifier: GPL-2.0
/* Kernel code, in the kernel's coding style. */
/* clang-format off */
/*
 * i2c-modelbus: an I2C adapter whose devices live in userspace.
 *
 * Every transfer on the adapter is handed, whole, to a responder process
 * through /dev/i2c-modelbus (wire format in i2c-modelbus.h) and completes
 * with the status the responder gives. The responder plays chip models, so
 * tools on top of i2c-dev meet the chips' protocols on a real kernel.
 *
 * One responder at a time; one transfer at a time (the I2C core holds the
 * bus lock across master_xfer). Without a responder, or when it goes away
 * mid-transfer, transfers fail with -EIO; when it does not answer within the
 * adapter's timeout (bounded by MODELBUS_MAX_TIMEOUT_MS) they fail with
 * -ETIMEDOUT; a reply the adapter cannot use fails them with -EPROTO.
 *
 * The responder's buffers are copied without the lock held: a responder
 * whose memory faults, however slowly, holds up neither the transfer's
 * timeout nor the next transfer.
 */

#include <linux/err.h>
#include <linux/errno.h>
#include <linux/fs.h>
#include <linux/i2c.h>
#include <linux/jiffies.h>
#include <linux/kernel.h>
#include <linux/miscdevice.h>
#include <linux/mm.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/poll.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/stringify.h>
#include <linux/sysfs.h>
#include <linux/uaccess.h>
#include <linux/version.h>
#include <linux/wait.h>

#include "i2c-modelbus.h"

static bool smbus_only;
module_param(smbus_only, bool, 0444);
MODULE_PARM_DESC(smbus_only,
		 "Hide I2C_FUNC_I2C, as an SMBus-only controller would (users then take their SMBus path)");

/* Flags the responder can honour; i2c-dev and the SMBus emulation set DMA_SAFE. */
#define MODELBUS_KNOWN_FLAGS (I2C_M_RD | I2C_M_DMA_SAFE)

enum modelbus_state {
	MODELBUS_IDLE,
	MODELBUS_QUEUED, /* waiting for the responder to read it */
	MODELBUS_SENT, /* waiting for its reply */
};

struct modelbus {
	struct i2c_adapter adap;
	struct miscdevice misc;

	struct mutex lock; /* everything below; never held across a user copy */
	wait_queue_head_t requests;
	struct completion done;
	bool responder_open;
	enum modelbus_state state;
	u32 id;
	struct i2c_msg *msgs;
	int num;
	void *request; /* until the responder takes it along */
	size_t request_len;
	int status;
};

static struct modelbus modelbus;

/* i2c-dev's I2C_TIMEOUT sets adap->timeout to up to INT_MAX centiseconds. */
static unsigned long modelbus_timeout(const struct i2c_adapter *adap)
{
	return min_t(unsigned int, READ_ONCE(adap->timeout),
		     msecs_to_jiffies(MODELBUS_MAX_TIMEOUT_MS));
}

static unsigned int timeout_ms = 2000;

static int modelbus_timeout_set(const char *val, const struct kernel_param *kp)
{
	unsigned int ms;
	int ret = kstrtouint(val, 0, &ms);

	if (ret)
		return ret;
	*(unsigned int *)kp->arg = min_t(unsigned int, ms, MODELBUS_MAX_TIMEOUT_MS);
	return 0;
}

/* What the next transfer waits, whoever set it last. */
static int modelbus_timeout_get(char *buffer, const struct kernel_param *kp)
{
	return sysfs_emit(buffer, "%u\n",
			  jiffies_to_msecs(modelbus_timeout(&modelbus.adap)));
}

static const struct kernel_param_ops modelbus_timeout_ops = {
	.set = modelbus_timeout_set,
	.get = modelbus_timeout_get,
};
module_param_cb(timeout_ms, &modelbus_timeout_ops, &timeout_ms, 0444);
MODULE_PARM_DESC(timeout_ms,
		 "How long a transfer waits for the responder (ms, at most "
		 __stringify(MODELBUS_MAX_TIMEOUT_MS)
		 "); reads back the adapter's timeout, I2C_TIMEOUT included");

/* Called with the lock held: ends the transfer in progress with this status. */
static void modelbus_complete(struct modelbus *mb, int status)
{
	mb->status = status;
	mb->state = MODELBUS_IDLE;
	complete(&mb->done);
}

/* Ends transfer id with this status, unless it has already ended. */
static void modelbus_abandon(struct modelbus *mb, u32 id, int status)
{
	mutex_lock(&mb->lock);
	if (mb->state == MODELBUS_SENT && mb->id == id)
		modelbus_complete(mb, status);
	mutex_unlock(&mb->lock);
}

static void *modelbus_build_request(struct i2c_msg *msgs, int num, size_t *len)
{
	struct modelbus_request *req;
	struct modelbus_msg *wire;
	size_t size = sizeof(*req) + num * sizeof(*wire);
	u8 *payload;
	int i;

	for (i = 0; i < num; i++)
		if (!(msgs[i].flags & I2C_M_RD))
			size += msgs[i].len;

	req = kvzalloc(size, GFP_KERNEL);
	if (!req)
		return NULL;
	req->nmsgs = num;
	wire = (struct modelbus_msg *)(req + 1);
	payload = (u8 *)(wire + num);
	for (i = 0; i < num; i++) {
		wire[i].addr = msgs[i].addr;
		wire[i].flags = msgs[i].flags & I2C_M_RD ? MODELBUS_MSG_READ : 0;
		wire[i].len = msgs[i].len;
		if (!(msgs[i].flags & I2C_M_RD)) {
			memcpy(payload, msgs[i].buf, msgs[i].len);
			payload += msgs[i].len;
		}
	}
	*len = size;
	return req;
}

static int modelbus_xfer(struct i2c_adapter *adap, struct i2c_msg *msgs,
			 int num)
{
	struct modelbus *mb = i2c_get_adapdata(adap);
	struct modelbus_request *req;
	size_t len;
	long left;
	int status;
	int i;

	if (num > MODELBUS_MAX_MSGS)
		return -EOPNOTSUPP;
	for (i = 0; i < num; i++)
		if (msgs[i].flags & ~MODELBUS_KNOWN_FLAGS ||
		    msgs[i].len > MODELBUS_MAX_MSG_LEN)
			return -EOPNOTSUPP;

	req = modelbus_build_request(msgs, num, &len);
	if (!req)
		return -ENOMEM;

	mutex_lock(&mb->lock);
	if (!mb->responder_open) {
		mutex_unlock(&mb->lock);
		kvfree(req);
		return -EIO;
	}
	req->id = ++mb->id;
	mb->request = req;
	mb->request_len = len;
	mb->msgs = msgs;
	mb->num = num;
	mb->state = MODELBUS_QUEUED;
	reinit_completion(&mb->done);
	mutex_unlock(&mb->lock);
	wake_up_interruptible(&mb->requests);

	/*
	 * Only a fatal signal ends the wait early: any other would restart the
	 * call and send its messages twice. The caller's buffers are written
	 * under the lock only, while the transfer is still in progress.
	 */
	left = wait_for_completion_killable_timeout(&mb->done,
						    modelbus_timeout(adap));

	mutex_lock(&mb->lock);
	if (mb->state != MODELBUS_IDLE) {
		dev_dbg(&adap->dev, "responder did not answer transfer %u\n",
			mb->id);
		mb->state = MODELBUS_IDLE;
		mb->status = left < 0 ? -EINTR : -ETIMEDOUT;
	}
	status = mb->status;
	req = mb->request; /* NULL once the responder took it */
	mb->request = NULL;
	mb->msgs = NULL;
	mutex_unlock(&mb->lock);
	kvfree(req);

	return status ? status : num;
}

static u32 modelbus_func(struct i2c_adapter *adap)
{
	return I2C_FUNC_SMBUS_EMUL | (smbus_only ? 0 : I2C_FUNC_I2C);
}

static const struct i2c_algorithm modelbus_algo = {
	.master_xfer = modelbus_xfer,
	.functionality = modelbus_func,
};

static int modelbus_open(struct inode *inode, struct file *file)
{
	struct modelbus *mb = &modelbus;
	int ret = 0;

	mutex_lock(&mb->lock);
	if (mb->responder_open)
		ret = -EBUSY;
	else
		mb->responder_open = true;
	mutex_unlock(&mb->lock);
	if (ret)
		return ret;
	file->private_data = mb;
	return nonseekable_open(inode, file);
}

static int modelbus_release(struct inode *inode, struct file *file)
{
	struct modelbus *mb = file->private_data;

	mutex_lock(&mb->lock);
	mb->responder_open = false;
	if (mb->state != MODELBUS_IDLE)
		modelbus_complete(mb, -EIO);
	mutex_unlock(&mb->lock);
	return 0;
}

static ssize_t modelbus_read(struct file *file, char __user *buf, size_t count,
			     loff_t *ppos)
{
	struct modelbus *mb = file->private_data;
	void *request;
	size_t len;
	ssize_t ret;
	u32 id;

	for (;;) {
		mutex_lock(&mb->lock);
		if (mb->state == MODELBUS_QUEUED)
			break;
		mutex_unlock(&mb->lock);
		if (file->f_flags & O_NONBLOCK)
			return -EAGAIN;
		ret = wait_event_interruptible(mb->requests,
					       READ_ONCE(mb->state) ==
						       MODELBUS_QUEUED);
		if (ret)
			return ret;
	}

	/* A request is read whole or not at all. */
	len = mb->request_len;
	if (count < len) {
		mutex_unlock(&mb->lock);
		return -EMSGSIZE;
	}
	request = mb->request;
	mb->request = NULL;
	id = mb->id;
	mb->state = MODELBUS_SENT;
	mutex_unlock(&mb->lock);

	ret = copy_to_user(buf, request, len) ? -EFAULT : len;
	kvfree(request);
	/* Nobody will answer a request the responder never got. */
	if (ret < 0)
		modelbus_abandon(mb, id, -EPROTO);
	return ret;
}

/*
 * Called with the lock held, on a reply of at least its header already in
 * kernel memory: copies the read messages' bytes to the transfer's buffers.
 */
static int modelbus_take_reply(struct modelbus *mb, const u8 *data,
			       size_t count)
{
	const struct modelbus_reply *reply = (const void *)data;
	size_t expected = sizeof(*reply);
	int i;

	if (reply->id != mb->id)
		return -ESTALE;
	if (reply->status > 0 || reply->status < -MODELBUS_MAX_ERRNO)
		return -EINVAL;
	if (reply->status) {
		if (count != sizeof(*reply))
			return -EINVAL;
		modelbus_complete(mb, reply->status);
		return 0;
	}

	for (i = 0; i < mb->num; i++)
		if (mb->msgs[i].flags & I2C_M_RD)
			expected += mb->msgs[i].len;
	if (count != expected)
		return -EINVAL;
	data += sizeof(*reply);
	for (i = 0; i < mb->num; i++) {
		if (!(mb->msgs[i].flags & I2C_M_RD))
			continue;
		memcpy(mb->msgs[i].buf, data, mb->msgs[i].len);
		data += mb->msgs[i].len;
	}
	modelbus_complete(mb, 0);
	return 0;
}

static ssize_t modelbus_write(struct file *file, const char __user *buf,
			      size_t count, loff_t *ppos)
{
	struct modelbus *mb = file->private_data;
	void *reply;
	int ret;

	if (count < sizeof(struct modelbus_reply) || count > MODELBUS_MAX_REPLY)
		reply = ERR_PTR(-EINVAL);
	else
		reply = vmemdup_user(buf, count);

	mutex_lock(&mb->lock);
	/* A reply to a transfer that already timed out has no one to go to. */
	if (mb->state != MODELBUS_SENT)
		ret = -ESTALE;
	else if (IS_ERR(reply))
		ret = PTR_ERR(reply);
	else
		ret = modelbus_take_reply(mb, reply, count);
	/*
	 * A reply the adapter cannot use must not leave the transfer hanging
	 * until its timeout.
	 */
	if (ret && ret != -ESTALE)
		modelbus_complete(mb, -EPROTO);
	mutex_unlock(&mb->lock);
	if (!IS_ERR(reply))
		kvfree(reply);
	return ret ? ret : count;
}

static __poll_t modelbus_poll(struct file *file, poll_table *wait)
{
	struct modelbus *mb = file->private_data;

	poll_wait(file, &mb->requests, wait);
	return READ_ONCE(mb->state) == MODELBUS_QUEUED ? EPOLLIN | EPOLLRDNORM :
							  0;
}

static const struct file_operations modelbus_fops = {
	.owner = THIS_MODULE,
	.open = modelbus_open,
	.release = modelbus_release,
	.read = modelbus_read,
	.write = modelbus_write,
	.poll = modelbus_poll,
#if LINUX_VERSION_CODE < KERNEL_VERSION(6, 12, 0)
	/* Since 6.12 nonseekable_open() alone refuses seeks. */
	.llseek = no_llseek,
#endif
};

static int __init modelbus_init(void)
{
	struct modelbus *mb = &modelbus;
	int ret;

	mutex_init(&mb->lock);
	init_waitqueue_head(&mb->requests);
	init_completion(&mb->done);

	mb->misc.minor = MISC_DYNAMIC_MINOR;
	mb->misc.name = "i2c-modelbus";
	mb->misc.fops = &modelbus_fops;
	ret = misc_register(&mb->misc);
	if (ret)
		return ret;

	mb->adap.owner = THIS_MODULE;
	mb->adap.algo = &modelbus_algo;
	mb->adap.timeout = msecs_to_jiffies(timeout_ms);
	strscpy(mb->adap.name, MODELBUS_ADAPTER_NAME, sizeof(mb->adap.name));
	i2c_set_adapdata(&mb->adap, mb);
	ret = i2c_add_adapter(&mb->adap);
	if (ret)
		misc_deregister(&mb->misc);
	return ret;
}

/*
 * Neither half can be in use here: an open /dev/i2c-modelbus or /dev/i2c-N
 * holds a reference on this module.
 */
static void __exit modelbus_exit(void)
{
	i2c_del_adapter(&modelbus.adap);
	misc_deregister(&modelbus.misc);
}

module_init(modelbus_init);
module_exit(modelbus_exit);

MODULE_DESCRIPTION("I2C adapter served by a userspace responder");
MODULE_LICENSE("GPL");
