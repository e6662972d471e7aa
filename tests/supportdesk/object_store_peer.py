#!/usr/bin/env python3
"""Loopback object-store peer for the cloud-upload tests and benchmark.

Takes a JSON settings object: "access", "secret", "region", "version" (4 or 2),
and behaviours "noUploadId", "noEtag", "abortStatus", "failPartOnce" (that
part number is answered 500 the first time), "benchmark" (accept unsigned
requests; bodies of parts and PUTs are read but neither hashed nor checked, so
the peer costs the same per byte whoever sends). With a certificate and key as further arguments it speaks
https. Prints "listening on <origin>", then one JSON record per request in the
capture server's form (method, path, query, headers, Base64 body). Bodies of
parts and single PUTs are streamed and left out of the record; the peer adds
the headers "X-Peer-Signature" (ok, bad or none, recomputed with botocore from
the request as received), "X-Peer-Body-Size" and "X-Peer-Payload" (ok when the
signed payload hash matches the body). Ends when its standard input closes.
"""
import base64
import hashlib
import http.server
import json
import ssl
import sys
import threading
import urllib.parse

try:
    import botocore  # noqa: F401
except ImportError:  # a python3 of its own beside Debian's python3-botocore
    sys.path.append("/usr/lib/python3/dist-packages")
from botocore.auth import HmacV1Auth, S3SigV4Auth  # noqa: E402
from botocore.awsrequest import AWSRequest, HTTPHeaders  # noqa: E402
from botocore.credentials import Credentials  # noqa: E402

settings = json.loads(sys.argv[1])
credentials = Credentials(settings.get("access", ""), settings.get("secret", ""))
lock = threading.Lock()
uploads = [0]


class ReceivedDateHmacV1Auth(HmacV1Auth):
    """Checks a received request: the date signed is the one it carries."""

    def __init__(self, credentials, date):
        super().__init__(credentials)
        self.date = date

    def _get_date(self):
        return self.date


def signature_state(handler, url):
    authorization = handler.headers.get("Authorization")
    if not authorization:
        return "none"
    if settings.get("version", 4) == 2:
        headers = HTTPHeaders()
        for name, value in handler.headers.items():
            headers[name] = value
        expected = ReceivedDateHmacV1Auth(credentials, handler.headers.get("Date", "")).get_signature(
            handler.command, urllib.parse.urlsplit(url), headers)
        return "ok" if authorization == "AWS %s:%s" % (credentials.access_key, expected) else "bad"
    fields = dict(part.strip().split("=", 1) for part in authorization[len("AWS4-HMAC-SHA256 "):].split(","))
    signed = fields["SignedHeaders"].split(";")
    request = AWSRequest(method=handler.command, url=url,
                         headers={name: handler.headers.get(name, "") for name in signed})
    request.context["timestamp"] = handler.headers.get("x-amz-date", "")
    auth = S3SigV4Auth(credentials, "s3", settings.get("region", "us-east-1"))
    canonical = auth.canonical_request(request)
    expected = auth.signature(auth.string_to_sign(request, canonical), request)
    scope = "%s/%s/%s/s3/aws4_request" % (credentials.access_key, request.context["timestamp"][:8],
                                          settings.get("region", "us-east-1"))
    return "ok" if fields["Signature"] == expected and fields["Credential"] == scope else "bad"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self, keep):
        remaining = int(self.headers.get("Content-Length") or 0)
        digest, md5, kept, size = hashlib.sha256(), hashlib.md5(), [], 0
        while remaining > 0:
            chunk = self.rfile.read(min(remaining, 1 << 20))
            if not chunk:
                break
            remaining -= len(chunk)
            size += len(chunk)
            if keep:
                kept.append(chunk)
            else:
                digest.update(chunk)
                md5.update(chunk)
        body = b"".join(kept)
        if keep:
            digest.update(body)
            md5.update(body)
        return body, size, digest.hexdigest(), md5.hexdigest()

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        small = self.command in ("POST", "DELETE")
        claimed = self.headers.get("x-amz-content-sha256", "UNSIGNED-PAYLOAD")
        if settings.get("benchmark") and not small:
            remaining = int(self.headers.get("Content-Length") or 0)
            size = 0
            while remaining > 0:
                chunk = self.rfile.read(min(remaining, 1 << 20))
                if not chunk:
                    break
                remaining -= len(chunk)
                size += len(chunk)
            body, sha, md5 = b"", claimed, "part-%s" % query.get("partNumber", [""])[0]
        else:
            body, size, sha, md5 = self.read_body(small)
        signature = signature_state(self, "%s%s" % (origin, self.path))
        payload = "ok" if claimed in ("UNSIGNED-PAYLOAD", sha) or settings.get("version", 4) == 2 else "bad"
        status, headers, reply = 200, {}, b""
        if signature == "bad" or payload == "bad" or (signature == "none" and not settings.get("benchmark")):
            status, reply = 403, b"<Error><Code>SignatureDoesNotMatch</Code></Error>"
        elif self.command == "POST" and "uploads" in query:
            with lock:
                uploads[0] += 1
                upload_id = "upload-%d.x" % uploads[0]
            inner = "" if settings.get("noUploadId") else "<UploadId>%s</UploadId>" % upload_id
            reply = ("<InitiateMultipartUploadResult><Bucket>b</Bucket>%s</InitiateMultipartUploadResult>"
                     % inner).encode()
        elif self.command == "PUT" and "partNumber" in query:
            with lock:
                failing = query["partNumber"] == [str(settings.get("failPartOnce"))]
                if failing:
                    settings["failPartOnce"] = None
            if failing:
                status = 500
            elif not settings.get("noEtag"):
                headers["ETag"] = '"%s"' % md5
        elif self.command == "POST" and "uploadId" in query:
            reply = b"<CompleteMultipartUploadResult><Key>k</Key></CompleteMultipartUploadResult>"
        elif self.command == "DELETE":
            status = settings.get("abortStatus", 204)
        record_headers = [[k, v] for k, v in self.headers.items()]
        record_headers += [["X-Peer-Signature", signature], ["X-Peer-Body-Size", str(size)],
                           ["X-Peer-Payload", payload]]
        with lock:
            sys.stdout.write(json.dumps({"method": self.command, "path": url.path, "query": url.query,
                                         "headers": record_headers,
                                         "body": base64.b64encode(body).decode("ascii")}) + "\n")
            sys.stdout.flush()
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        if status != 204:
            self.wfile.write(reply)

    do_GET = do_POST = do_PUT = do_DELETE = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a cancelled upload hangs up early


server = Server(("127.0.0.1", 0), Handler)
scheme = "http"
if len(sys.argv) > 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
    scheme = "https"
origin = "%s://127.0.0.1:%d" % (scheme, server.server_address[1])
sys.stdout.write("listening on %s\n" % origin)
sys.stdout.flush()
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
server.shutdown()
